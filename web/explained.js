// The trace's sentences with their marks filled, as vellumark-trace fills them:
// in one pass, so that a mark within what fills another stays as it is, and a
// mark a sentence is given nothing for stays empty.
import {sentences} from 'vellumark-explanations';

const marks = /\{(name|value|form|by|place|more)\}/g;

export function explain(rule, words) {
  const text = sentences[rule];
  if (text === undefined) throw new Error(`the trace has no sentence ${rule}`);
  return text.replace(marks, (mark, name) => words[name] ?? '');
}
