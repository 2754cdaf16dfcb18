// The reader's verdict on the editor's text, from the interpreter's own reader:
// vellumark_read() in the same module a run uses (reader.cpp). The page posts
// {type: 'read', id, bytes}; this worker answers {type: 'verdict', id, verdict}
// (see protocol.js), the verdict one of
//   {kind: 'ends', end}        one expression is read; bytes from `end` on are not
//   {kind: 'more'}             the expression is whole, but the input ends right
//                              after it, before the one character the reader needs
//   {kind: 'open', count}      the input ends with `count` lists still open
//   {kind: 'empty'}            the input ends before any expression begins
//   {kind: 'error', at, message}  the reader stops at byte `at` with that error line
//   {kind: 'long'}             too long to read at every keystroke
//   {kind: 'failed', message}  the module could not be run
// The reader ends the module at the end of the input or at an error, as it
// ends the process on the command line, so each read gets a module instance
// of its own; the module is compiled once.
'use strict';

importScripts(self.trustedTypes
  ? trustedTypes.createPolicy('playground', {createScriptURL: () => 'vellumark.js'}).createScriptURL('')
  : 'vellumark.js');

// Reading gives the reader one byte per read(), a few million a second: up to
// this size the verdict keeps up with typing.
const limit = 1 << 20;

let compiled = null;
function compile() {
  compiled ??= fetch('vellumark.wasm').then((response) => {
    if (!response.ok) throw new Error(`vellumark.wasm: ${response.status} ${response.statusText}`);
    return response.arrayBuffer();
  }).then((bytes) => WebAssembly.compile(bytes));
  return compiled;
}

// One read of `input` by a fresh instance. Past the end of `input` come the
// bytes of `tail`, its last one repeated, or, without a tail, the end of the
// input. One byte per read() means the bytes taken are the bytes the reader
// has looked at: the expression and the one character after it.
async function readOnce(input, tail) {
  const wasm = await compile();
  const result = {taken: 0, extra: 0, pastEnd: false, status: null, printed: ''};
  const decoder = new TextDecoder();
  const terminal = {
    read(stream, heap, offset, length) {
      if (length === 0) return 0;
      let byte;
      if (result.taken < input.length) {
        byte = input[result.taken++];
      } else {
        result.pastEnd = true;
        // Each extra ")" closes a list or ends the read, so a few more than
        // the input has bytes always suffice.
        if (!tail || result.extra > input.length + tail.length) return 0;
        byte = tail.charCodeAt(Math.min(result.extra++, tail.length - 1));
      }
      new Uint8Array(heap.buffer, heap.byteOffset + offset, 1)[0] = byte;
      return 1;
    },
    write(stream, heap, offset, length) {
      result.printed += decoder.decode(new Uint8Array(heap.buffer, heap.byteOffset + offset, length), {stream: true});
      return length;
    },
  };
  const module = await createVellumark({
    noInitialRun: true,
    instantiateWasm(imports, receive) {
      WebAssembly.instantiate(wasm, imports).then((instance) => receive(instance, wasm));
      return {};
    },
    preRun: [({FS}) => FS.registerDevice(FS.lookupPath('/dev/tty').node.rdev, terminal)],
    onExit: (status) => { result.status = status; },
  });
  try {
    module._vellumark_read();
    result.status = 'read';
  } catch (error) {
    // exit() throws to unwind the module; anything else is a real failure.
    if (result.status === null) throw error;
  }
  return result;
}

async function verdict(input) {
  if (input.length > limit) return {kind: 'long'};
  const first = await readOnce(input, '');
  if (first.status === 'read') return {kind: 'ends', end: first.taken - 1};
  if (first.status !== 0 || !first.pastEnd) return {kind: 'error', at: first.taken - 1, message: first.printed.trim()};
  // The input ended inside the expression. Closing brackets after it close
  // the open lists one by one; the one after the last is the character the
  // reader needs after the expression.
  const closed = await readOnce(input, ')');
  if (closed.status === 'read') return closed.extra === 1 ? {kind: 'more'} : {kind: 'open', count: closed.extra - 1};
  // Only where an expression must begin is a ")" an error: after a "." or
  // before anything at all. A "0" there lets the brackets close the rest.
  const completed = await readOnce(input, '0)');
  if (completed.status === 'read') {
    const count = completed.extra - 2;
    return count === 0 ? {kind: 'empty'} : {kind: 'open', count};
  }
  return {kind: 'failed', message: completed.printed.trim() || 'the reader did not finish'};
}

onmessage = async ({data: {type, id, bytes}}) => {
  if (type !== 'read') return;
  try {
    postMessage({type: 'verdict', id, verdict: await verdict(bytes)});
  } catch (error) {
    postMessage({type: 'verdict', id, verdict: {kind: 'failed', message: String(error)}});
  }
};
