// One run of the interpreter (the messages are listed in protocol.js). The
// page posts the program's bytes; this worker hands them to a fresh module as
// its standard input, posts standard output back as it is written, and ends
// with the exit status. The page ends a run
// early by terminating the worker, and uses a new one for the next run.
// Standard error stays the runtime's own, which writes to the console.
// A worker named "trace" runs vellumark-trace --json instead, for the Step
// view: the same interpreter with its trace hooks on.
'use strict';

const traced = self.name === 'trace';
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

onmessage = ({data: {type, input}}) => {
  if (type !== 'run') return;
  let next = 0;
  let waiting = [];
  let waitingBytes = 0;
  let windowStart = -Infinity;
  let messages = 0;
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
      waiting.push(bytesAt(heap, offset, length).slice());
      waitingBytes += length;
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
      module.callMain(traced ? ['--json'] : []);
    } catch (error) {
      fail(error);
    }
  }, fail);
};
