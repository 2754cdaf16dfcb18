// The editor's Lisp support as one CodeMirror extension, lisp(): colouring by
// bracket depth, a ")" that closes nothing marked, bracket matching and
// indentation on Enter. The language has no strings or comments, so every
// bracket in the text is one.
import {RangeSetBuilder} from '@codemirror/state';
import {Decoration, ViewPlugin} from '@codemirror/view';
import {bracketMatching, indentService} from '@codemirror/language';

// Each bracket pair gets the colour of its depth, six colours in turn.
const depthMarks = [0, 1, 2, 3, 4, 5].map((depth) => Decoration.mark({class: `cm-depth-${depth}`}));
const strayMark = Decoration.mark({class: 'cm-stray'});

function depthAfter(text, depth) {
  for (let i = 0; i < text.length; i++) {
    if (text[i] === '(') depth++;
    else if (text[i] === ')' && depth > 0) depth--;
  }
  return depth;
}

function bracketColours(view) {
  const builder = new RangeSetBuilder();
  let depth = 0;
  let scanned = 0;
  for (const {from, to} of view.visibleRanges) {
    depth = depthAfter(view.state.doc.sliceString(scanned, from), depth);
    const text = view.state.doc.sliceString(from, to);
    for (let i = 0; i < text.length; i++) {
      if (text[i] === '(') {
        builder.add(from + i, from + i + 1, depthMarks[depth % depthMarks.length]);
        depth++;
      } else if (text[i] === ')') {
        if (depth === 0) {
          builder.add(from + i, from + i + 1, strayMark);
        } else {
          depth--;
          builder.add(from + i, from + i + 1, depthMarks[depth % depthMarks.length]);
        }
      }
    }
    scanned = to;
  }
  return builder.finish();
}

const depthColouring = ViewPlugin.fromClass(class {
  constructor(view) { this.decorations = bracketColours(view); }
  update(update) {
    if (update.docChanged || update.viewportChanged) this.decorations = bracketColours(update.view);
  }
}, {decorations: (plugin) => plugin.decorations});

// Enter indents the new line as Lisp is usually laid out: two columns in from
// the innermost open "(" when it begins a form with a body or has nothing
// after its head on that line, and under the first operand otherwise.
const bodyForms = new Set(['begin', 'cond', 'define', 'lambda']);

const lispIndent = indentService.of((context, pos) => {
  const doc = context.state.doc;
  let depth = 0;
  let open = -1;
  for (let at = pos - 1; at >= 0 && open < 0; at--) {
    const character = doc.sliceString(at, at + 1);
    if (character === ')') depth++;
    else if (character === '(' && depth-- === 0) open = at;
  }
  if (open < 0) return 0;
  const line = doc.lineAt(open);
  const column = open - line.from;
  const after = line.text.slice(column + 1, Math.max(column + 1, pos - line.from));
  const call = /^([^\s()]+)([ \t]+)[^\s]/.exec(after);
  if (call && !bodyForms.has(call[1])) return column + 1 + call[1].length + call[2].length;
  if (after.startsWith('(')) return column + 1;
  return column + 2;
});

export function lisp() {
  return [bracketMatching({brackets: '()'}), depthColouring, lispIndent];
}
