// One run of the interpreter. The page posts the program's bytes; this worker
// hands them to a fresh module as its standard input, posts standard output
// back as it is written, and ends with the exit status. The page ends a run
// early by terminating the worker, and uses a new one for the next run.
// Standard error stays the runtime's own, which writes to the console.
'use strict';

importScripts('vellumark.js');

const chunkSize = 1 << 16;

const chunk = new Uint8Array(chunkSize);
let filled = 0;

function send() {
  if (filled === 0) return;
  const bytes = chunk.slice(0, filled);
  postMessage({output: bytes}, [bytes.buffer]);
  filled = 0;
}

// Emscripten hands over one byte at a time, as a signed number. Whatever ends
// a line leaves at once, so that a program that prints as it goes, and then
// computes for a long time, is seen to have printed.
function write(byte) {
  chunk[filled++] = byte;
  if (filled === chunkSize || byte === 10) send();
}

function fail(reason) {
  send();
  postMessage({crash: String(reason)});
}

onmessage = ({data: input}) => {
  let next = 0;
  const settings = {
    // main() is called below, where whatever escapes it (a trap, the
    // JavaScript stack running out) can be caught and reported.
    noInitialRun: true,
    // null is the end of the input.
    stdin: () => (next < input.length ? input[next++] : null),
    stdout: write,
    onExit: (status) => {
      send();
      postMessage({status});
    },
  };
  createVellumark(settings).then((module) => {
    try {
      module.callMain([]);
    } catch (error) {
      fail(error);
    }
  }, fail);
};
