// The reader's verdict on the editor's text, in words: the line under the
// editor, the stretch the reader never reads, and why a run of the text
// printed nothing after the banner. Those last sentences are the trace's own
// (explanations.js is made from the interpreter's table of sentences), so the
// page and vellumark-trace say the same.
import {explain} from './explained.js';

// A byte offset in `bytes` as the editor's position and as line:column, the
// column counted in characters. The editor's text has its line ends as "\n".
function place(bytes, offset) {
  const before = new TextDecoder().decode(bytes.subarray(0, offset));
  const lines = before.split(/\r\n|\r|\n/);
  const last = lines[lines.length - 1];
  return {
    pos: lines.join('\n').length,
    where: `${lines.length}:${[...last].length + 1}`,
  };
}

const blank = (byte) => byte === 0x20 || byte === 0x09 || byte === 0x0a || byte === 0x0d;

function firstNonBlank(bytes) {
  return bytes.findIndex((byte) => !blank(byte));
}

// The editor's stretch from the first to the last character that is not
// blank: the expression a run of these bytes never finished reading.
function unfinished(bytes) {
  let end = bytes.length;
  while (end > 0 && blank(bytes[end - 1])) --end;
  return {from: place(bytes, firstNonBlank(bytes)).pos, to: place(bytes, end).pos};
}

// `verdict` (see reader.js) on `bytes` in words: {line, unread: {from, to} or
// null, silent: why a run of these bytes prints nothing after the banner, or
// null, and `unfinished`: the editor's {from, to} that sentence is about}.
// `length` is the editor's text length, where the unread part ends.
export function describe(bytes, verdict, length) {
  switch (verdict.kind) {
    case 'ends': {
      const last = place(bytes, verdict.end - 1).where;
      const rest = bytes.subarray(verdict.end);
      if (firstNonBlank(rest) < 0) return {line: `Reads one expression, ending at ${last}.`};
      const from = place(bytes, verdict.end).pos;
      return {
        line: `Reads one expression, ending at ${last}; nothing after ${last} is read.`,
        unread: {from, to: length},
      };
    }
    case 'more': {
      const last = place(bytes, bytes.length - 1).where;
      return {
        line: `Reads one expression, ending at ${last}, once one more character follows it.`,
        silent: explain('no-line-end', {place: last}),
        unfinished: unfinished(bytes),
      };
    }
    case 'open': {
      const first = place(bytes, firstNonBlank(bytes)).where;
      const open = verdict.count === 1 ? `1 '(' still open, at ${first}` : `${verdict.count} '(' still open, the first at ${first}`;
      return {line: `${open}.`, silent: explain('missing-parenthesis', {more: String(verdict.count), place: first}),
        unfinished: unfinished(bytes)};
    }
    case 'error':
      return {line: `The reader stops at ${place(bytes, verdict.at).where}: ${verdict.message}`};
    case 'empty':
      return {line: 'No expression yet.', silent: explain('no-expression', {})};
    case 'long':
      return {line: 'Too long for a verdict while you type; Run reads it all the same.'};
    default:
      return {line: `The reader could not be run: ${verdict.message}`};
  }
}
