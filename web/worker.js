// One run of the interpreter (the messages are listed in protocol.js). The
// page posts the program's bytes; this worker hands them to a fresh module as
// its standard input, posts standard output back as it is written, and ends
// with the exit status. The page ends a run
// early by terminating the worker, and uses a new one for the next run.
// Standard error stays the runtime's own, which writes to the console.
// A worker named "trace" runs vellumark-trace --json instead, for the Step
// view: the same interpreter with its trace hooks on. One named "why" runs it
// too, for why.js, but passes on only the lines of the events that tell
// (explanation and note): the trace writes megabytes a second, which the page
// would otherwise have to read through on its own thread.
'use strict';

const explaining = self.name === 'why';
const traced = self.name === 'trace' || explaining;
const script = traced ? 'vellumark-trace.js' : 'vellumark.js';
// Served with the page's Content-Security-Policy, the worker needs a Trusted
// Types policy of its own for the one script it loads.
importScripts(self.trustedTypes
  ? trustedTypes.createPolicy('playground', {createScriptURL: () => script}).createScriptURL('')
  : script);

// The bytes at `offset` in the interpreter's memory, whichever typed array the
// runtime hands over for it.
function bytesAt(heap, offset, length) {
  return new Uint8Array(heap.buffer, heap.byteOffset + offset, length);
}

// Output goes to the page as it is written (the interpreter writes at every
// line end), so that a program that prints and then computes for a long time
// is seen to have printed; but at most `messagesPerWindow` messages in each
// `window` ms: a message for every line of a flood of short lines held the
// page for seconds, Stop with it. Past that, writes wait and go together at
// the first write of the next window (or at 1 MiB, or at the end of the run).
const window = 50;
const messagesPerWindow = 16;
const outputBlock = 1 << 20;

const telling = ['{"event":"explanation"', '{"event":"note"'].map((prefix) => new TextEncoder().encode(prefix));
const longest = Math.max(...telling.map((prefix) => prefix.length));

function join(first, second) {
  const both = new Uint8Array(first.length + second.length);
  both.set(first);
  both.set(second, first.length);
  return both;
}

// Keeps, of the trace's lines as they are written, those of the events that
// tell. Only the start of the line under way is kept, and of a line that tells
// no more than its first bytes until it is known to be one.
function toldLines() {
  let pending = new Uint8Array(0);
  let skipping = false; // the line under way tells nothing
  const tells = (line) => telling.some((prefix) =>
    line.length >= prefix.length && prefix.every((byte, at) => line[at] === byte));
  return (bytes) => {
    const kept = [];
    let start = 0;
    for (let end = bytes.indexOf(10); end >= 0; end = bytes.indexOf(10, start)) {
      if (!skipping) {
        const line = join(pending, bytes.subarray(start, end + 1));
        if (tells(line)) kept.push(line);
      }
      pending = new Uint8Array(0);
      skipping = false;
      start = end + 1;
    }
    if (!skipping && start < bytes.length) {
      pending = join(pending, bytes.subarray(start));
      if (pending.length >= longest && !tells(pending)) {
        skipping = true;
        pending = new Uint8Array(0);
      }
    }
    return kept;
  };
}

onmessage = ({data: {type, input, depth}}) => {
  if (type !== 'run') return;
  let next = 0;
  let waiting = [];
  let waitingBytes = 0;
  let windowStart = -Infinity;
  let messages = 0;
  const told = explaining ? toldLines() : null;
  const send = () => {
    if (waitingBytes === 0) return;
    const block = new Uint8Array(waitingBytes);
    let at = 0;
    for (const part of waiting) {
      block.set(part, at);
      at += part.length;
    }
    waiting = [];
    waitingBytes = 0;
    ++messages;
    postMessage({type: 'output', bytes: block}, [block.buffer]);
  };
  // Standard input and output, a whole block per read() and write(). The
  // runtime's own stdin and stdout settings make a call per byte, which cost a
  // third of the run for megabytes of program or output.
  const terminal = {
    read(stream, heap, offset, length) {
      const block = input.subarray(next, next + length);
      bytesAt(heap, offset, block.length).set(block);
      next += block.length;
      return block.length; // 0 once the program is all read: the end of the input
    },
    write(stream, heap, offset, length) {
      const written = bytesAt(heap, offset, length);
      for (const part of told ? told(written) : [written.slice()]) {
        waiting.push(part);
        waitingBytes += part.length;
      }
      const now = performance.now();
      if (now - windowStart >= window) {
        windowStart = now;
        messages = 0;
      }
      if (messages < messagesPerWindow || waitingBytes >= outputBlock) send();
      return length;
    },
  };
  const settings = {
    // main() is called below, where whatever escapes it (a trap, the
    // JavaScript stack running out) can be caught and reported.
    noInitialRun: true,
    // Given no stdin or stdout settings, the runtime opens standard input and
    // output on /dev/tty after preRun, so giving that device these operations
    // connects both to this run.
    preRun: [({FS}) => FS.registerDevice(FS.lookupPath('/dev/tty').node.rdev, terminal)],
    onExit: (status) => {
      send();
      postMessage({type: 'exit', status});
    },
  };
  const fail = (reason) => {
    send();
    postMessage({type: 'crash', reason: String(reason)});
  };
  createVellumark(settings).then((module) => {
    try {
      module.callMain(traced ? ['--json', ...(depth > 0 ? [`--depth=${depth}`] : [])] : []);
    } catch (error) {
      fail(error);
    }
  }, fail);
};
