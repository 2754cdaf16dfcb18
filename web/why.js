// Why a run ended as it did, under the output (#why), in the trace's words, with
// the forms it names marked in the editor.
//
// Run uses the plain interpreter, whose speed the trace would cost. So once a
// run has ended, the same program is run again in the background by the traced
// build (vellumark-trace --json), only for what it explains: its `explanation`
// event (why the run failed) and its `note` events (what surprised it). A run
// the traced build cannot finish within `budget` ms is left unexplained, and
// so is one the plain interpreter took longer than `budget / 8` over: that
// leaves the traced build, natively about 2.6 times slower (bench/README.md),
// room for a slower browser and a busy machine, and spares a core a run that
// would be ended anyway (a worker ended while busy runs on for a moment). A
// run that printed nothing is explained from the reader's verdict instead, as
// it was before (verdict.js).
import {startRun} from './protocol.js';

export const budget = 2000;

// A run that went past the ten million levels of the interpreter's bound took
// the plain interpreter long, and would take the traced build longer still;
// its first levels tell which procedure kept calling itself as well.
const tooDeep = 'Error: recursion too deep.\n';
const explainedDepth = 10000;

// The trace writes each byte of a text as the code point of its value, so that
// any bytes survive; the program's own text is UTF-8.
const utf8 = new TextDecoder();
function decoded(value) {
  return typeof value === 'string' ? utf8.decode(Uint8Array.from(value, (c) => c.charCodeAt(0))) : value;
}

// The events that tell, from the lines of a trace as they come (the worker
// passes on only those; any other is skipped all the same).
export class ToldEvents {
  constructor() {
    this.decoder = new TextDecoder();
    this.rest = '';
    this.told = [];
  }

  write(bytes) {
    const lines = (this.rest + this.decoder.decode(bytes, {stream: true})).split('\n');
    this.rest = lines.pop();
    for (const line of lines) {
      if (line.startsWith('{"event":"explanation"') || line.startsWith('{"event":"note"')) {
        const event = JSON.parse(line);
        this.told.push({event: event.event, text: decoded(event.text), at: event.at ?? null});
      }
    }
  }
}

// The stretch of `bytes` at `at` ([line, column, endLine, endColumn] of bytes,
// from 1, the end inclusive) as the editor's {from, to}, or null. The editor
// holds the text with its line ends as "\n".
export function stretch(bytes, at) {
  if (!at) return null;
  const starts = [0];
  for (let i = bytes.indexOf(10); i >= 0; i = bytes.indexOf(10, i + 1)) starts.push(i + 1);
  const offset = (line, column) => (starts[line - 1] ?? NaN) + column - 1;
  const start = offset(at[0], at[1]);
  let end = offset(at[2], at[3]) + 1;
  if (!(start >= 0 && start < end && end <= bytes.length)) return null;
  while (end < bytes.length && (bytes[end] & 0xc0) === 0x80) ++end;
  const position = (byteOffset) => utf8.decode(bytes.subarray(0, byteOffset)).replace(/\r\n|\r/g, '\n').length;
  return {from: position(start), to: position(end)};
}

// Connects `why` (the element under the output) and `editor` (editor.js).
// Returns {traced(input, took, ending), said(text, range), forget()}.
export function whyView(why, editor) {
  let job = null;
  let timer = 0;

  function cancel() {
    clearTimeout(timer);
    if (job) job.end();
    job = null;
  }

  function say(text, className) {
    const paragraph = document.createElement('p');
    paragraph.className = className;
    paragraph.append(text);
    why.append(paragraph);
  }

  // What the traced build told of a run of `input`: the explanation of its
  // error first, then its notes; the explanation's form is marked, or, in a
  // run that ended well, the forms of its notes.
  function tell(input, told) {
    const explanation = told.filter((event) => event.event === 'explanation');
    const notes = told.filter((event) => event.event === 'note');
    for (const event of [...explanation, ...notes]) say(event.text, event.event);
    const marked = explanation.length > 0 ? explanation : notes;
    editor.markFailed(marked.map((event) => stretch(input, event.at)).filter((range) => range));
  }

  return {
    // The run of `input` that just ended took `took` ms and wrote `ending`
    // last: explains it, if the traced build can within the budget.
    traced(input, took, ending) {
      cancel();
      const deep = ending.endsWith(tooDeep);
      if (took > budget / 8 && !deep) return;
      const events = new ToldEvents();
      const ran = startRun(input, {
        output: ({bytes}) => events.write(bytes),
        exit() {
          cancel();
          tell(input, events.told);
        },
        crash: cancel,
      }, {explaining: true, depth: deep ? explainedDepth : 0});
      job = ran;
      timer = setTimeout(() => { if (job === ran) cancel(); }, budget);
    },
    // A sentence of the page's own table (a run that printed nothing), with
    // the stretch of the editor it is about, or null.
    said(text, range) {
      cancel();
      say(text, 'note');
      editor.markFailed(range ? [range] : []);
    },
    // The program or the run changed: nothing said of the last run stands.
    forget() {
      cancel();
      editor.markFailed([]);
    },
  };
}
