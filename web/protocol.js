// What the page and its workers say to each other, in one place. Every
// message is an object tagged by `type`:
//
//   page → worker.js   {type: 'run', input}         the program's bytes, as standard input
//   worker.js → page   {type: 'output', bytes}      standard output as it is written
//                      {type: 'exit', status}       the run ended with this exit status
//                      {type: 'crash', reason}      the interpreter failed (a trap, no memory)
//   page → reader.js   {type: 'read', id, bytes}    the editor's text, for a verdict
//   reader.js → page   {type: 'verdict', id, verdict}
//
// worker.js named "trace" runs vellumark-trace --json instead of vellumark;
// its output is the trace, one JSON event a line (see step.js). Named "why",
// it runs the same but its output holds only the lines of the explanation and
// note events (see why.js).
//
// A worker is ended by terminating it, so after end() no handler is called
// again, whatever is still on its way.

// The Content-Security-Policy requires Trusted Types: no string reaches a sink
// for markup or script unless a policy made it, and the one policy only ever
// makes the two workers' addresses. So even a slip such as writing output
// through innerHTML fails rather than running a linked program's markup.
const scripts = self.trustedTypes
  ? trustedTypes.createPolicy('playground', {
    createScriptURL: (name) => {
      if (name !== 'worker.js' && name !== 'reader.js') throw new TypeError(`no script ${name}`);
      return name;
    },
  })
  : {createScriptURL: (name) => name};

// Starts `script` ('worker.js' or 'reader.js') and calls handlers[type](data)
// for each message it posts, and handlers.crash({reason}) when it cannot be
// loaded or fails outside the interpreter. Returns {post, end}.
export function startWorker(script, handlers, options = {}) {
  const worker = new Worker(scripts.createScriptURL(script), options);
  let live = true;
  worker.onmessage = ({data}) => {
    if (live && handlers[data.type]) handlers[data.type](data);
  };
  worker.onerror = (event) => {
    event.preventDefault();
    if (live && handlers.crash) handlers.crash({reason: event.message || 'it could not be loaded'});
  };
  return {
    post: (message, transfer) => worker.postMessage(message, transfer || []),
    end() {
      live = false;
      worker.terminate();
    },
  };
}

// One run of the program `input` (bytes) in a fresh interpreter: {output,
// exit, crash} handlers as above; `traced` records it with vellumark-trace,
// `explaining` keeps only what that trace explains; `depth` stops the trace
// at that many levels of evaluation (vellumark-trace --depth=N).
export function startRun(input, handlers, {traced = false, explaining = false, depth = 0} = {}) {
  const job = startWorker('worker.js', handlers, explaining ? {name: 'why'} : traced ? {name: 'trace'} : {});
  job.post({type: 'run', input, depth});
  return job;
}

// The reader's verdicts: one long-lived worker, each question answered by id.
export function readerClient(onFailure) {
  let job = null;
  let asked = 0;
  const waiting = new Map();
  return (bytes) => {
    job ??= startWorker('reader.js', {
      verdict({id, verdict}) {
        const settle = waiting.get(id);
        waiting.delete(id);
        if (settle) settle(verdict);
      },
      crash: ({reason}) => onFailure(reason),
    });
    const id = ++asked;
    return new Promise((settle) => {
      waiting.set(id, settle);
      job.post({type: 'read', id, bytes});
    });
  };
}
