// The playground page: an editor, the example menu, Run and Stop, the output
// pane, the exit status and a link that shares the program.
//
// Every run gets a Web Worker of its own (worker.js) with a fresh interpreter
// in it, so no run sees another's definitions, a long run never holds up the
// page, and Stop only has to end the worker. Program text and output are only
// ever handled as text: a link may carry anyone's program.
'use strict';

const editor = document.getElementById('program');
const menu = document.getElementById('examples');
const runButton = document.getElementById('run');
const stopButton = document.getElementById('stop');
const shareLink = document.getElementById('share');
const output = document.getElementById('output');
const exitStatus = document.getElementById('status');
const state = document.getElementById('state');

// Beyond this much output the page itself would run out of memory, so the run
// is stopped there instead.
const outputLimit = 64 << 20;

// The Content-Security-Policy requires Trusted Types: no string reaches a sink
// for markup or script unless a policy made it, and the one policy only ever
// makes the worker's address. So even a slip such as writing output through
// innerHTML fails rather than running a linked program's markup.
const workerScript = window.trustedTypes
  ? trustedTypes.createPolicy('playground', {createScriptURL: () => 'worker.js'}).createScriptURL('')
  : 'worker.js';

// The exact standard input of the next run. It is the editor's text once that
// has been edited; until then it is the text from the link or the example,
// which may hold carriage returns that a textarea's value would drop.
let source = '';
let worker = null;
// Shows what the current run wrote that is not shown yet.
let showOutput = () => {};
let examples = [];
// Whether a link brought a program, which the first example, loaded later,
// must then not replace.
let linked = false;

function setSource(text) {
  source = text;
  editor.value = text;
  shareLink.href = '#program=' + encodeURIComponent(text);
}

function finish(message) {
  showOutput();
  showOutput = () => {};
  if (worker) worker.terminate();
  worker = null;
  stopButton.disabled = true;
  state.textContent = message;
}

function run() {
  finish('Running…');
  output.textContent = '';
  exitStatus.textContent = '';
  stopButton.disabled = false;
  const started = performance.now();
  const decoder = new TextDecoder();
  let written = 0;
  // Output arrives a line or a block at a time and is shown in batches, one
  // text node each. Laying out the pane takes time in proportion to all the
  // text it holds, seconds for ten megabytes, so the wait before the next
  // batch is four times what the last one took: the page spends at most a
  // fifth of its time showing output, however much comes.
  let pending = '';
  let timer = 0;
  let wait = 50;
  showOutput = () => {
    clearTimeout(timer);
    timer = 0;
    if (!pending) return;
    const batchStarted = performance.now();
    // append() with a string adds a text node: output is never markup.
    output.append(pending);
    pending = '';
    // Reading the height lays the pane out here rather than at the next
    // frame, so that the time that took is known.
    void output.scrollHeight;
    wait = Math.max(50, 4 * (performance.now() - batchStarted));
  };
  const current = new Worker(workerScript);
  worker = current;
  current.onmessage = ({data}) => {
    if (current !== worker) return;
    if (data.output) {
      written += data.output.length;
      pending += decoder.decode(data.output, {stream: true});
      if (!timer) timer = setTimeout(showOutput, wait);
      if (written > outputLimit) finish(`Stopped after ${outputLimit >> 20} MiB of output.`);
    } else if ('status' in data) {
      pending += decoder.decode();
      exitStatus.textContent = String(data.status);
      finish(`Finished in ${((performance.now() - started) / 1000).toFixed(2)} s.`);
    } else if ('crash' in data) {
      pending += decoder.decode();
      finish(`The interpreter failed: ${data.crash}`);
    }
  };
  current.onerror = (event) => {
    event.preventDefault();
    if (current === worker) finish(`The interpreter failed: ${event.message || 'it could not be loaded'}`);
  };
  current.postMessage(new TextEncoder().encode(source));
}

// Opens a #program= link: its program goes into the editor and runs at once.
function openLink() {
  const prefix = '#program=';
  if (!location.hash.startsWith(prefix)) return false;
  linked = true;
  try {
    setSource(decodeURIComponent(location.hash.slice(prefix.length)));
  } catch {
    state.textContent = 'The program in this link is not validly encoded.';
    return true;
  }
  run();
  return true;
}

function chooseExample() {
  const example = examples.find((candidate) => candidate.name === menu.value);
  if (!example) return;
  setSource(example.program);
  run();
}

async function loadExamples() {
  const response = await fetch('examples.json');
  if (!response.ok) throw new Error(`${response.status} ${response.statusText}`);
  examples = await response.json();
  for (const example of examples) {
    const option = document.createElement('option');
    option.value = example.name;
    option.textContent = `${example.name}: ${example.description}`;
    menu.append(option);
  }
  if (!linked && !editor.value && examples.length > 0) setSource(examples[0].program);
}

editor.addEventListener('input', () => {
  source = editor.value;
  shareLink.href = '#program=' + encodeURIComponent(source);
});
document.addEventListener('keydown', (event) => {
  if (event.key === 'Enter' && (event.ctrlKey || event.metaKey)) {
    event.preventDefault();
    run();
  }
});
runButton.addEventListener('click', run);
stopButton.addEventListener('click', () => finish('Stopped.'));
menu.addEventListener('change', chooseExample);
// Following the link to the program already shown changes no address, so it
// runs the program here instead.
shareLink.addEventListener('click', () => {
  if (shareLink.href === location.href) run();
});
window.addEventListener('hashchange', openLink);

// What the Step view (step.js) needs of this page.
window.playground = {source: () => source, workerScript};

if (!openLink()) state.textContent = 'Write an expression or choose an example, then Run.';
loadExamples().catch((error) => {
  state.textContent = `The examples could not be loaded: ${error.message}`;
});
