// The playground page: the editor, the reader's verdict under it, the example
// menu and the reference, Run and Stop, the output pane, the exit status, a
// link that shares the program, and the Step view. `make web` bundles this
// module and those it imports with CodeMirror (see package.json) into the
// site's playground.js; web/README.md says what each module does.
//
// Every run gets a Web Worker of its own with a fresh interpreter in it, so no
// run sees another's definitions, a long run never holds up the page, and Stop
// only has to end the worker (protocol.js). Program text and output are only
// ever handled as text: a link may carry anyone's program.
import {undo} from '@codemirror/commands';
import {createEditor} from './editor.js';
import {workKept} from './kept.js';
import {OutputPane} from './output.js';
import {readerClient, startRun} from './protocol.js';
import {linkTo, readLink} from './link.js';
import {stepView} from './step.js';
import {describe} from './verdict.js';
import {whyView} from './why.js';

const $ = (id) => document.getElementById(id);
const menu = $('examples');
const undoButton = $('undo');
const stopButton = $('stop');
const shareLink = $('share');
const kept = $('kept');
const verdictLine = $('verdict');
const exitStatus = $('status');
const state = $('state');
const pane = new OutputPane($('output'), $('why'));

// Beyond this much output the page itself would run out of memory, so the run
// is stopped there instead.
const outputLimit = 64 << 20;
// Chromium opens no address longer than 2 MiB; a longer link would not open.
const linkLimit = 2 << 20;
// The bytes of "Vellumark" and the empty line after it.
const banner = 11;

const encoder = new TextEncoder();

// The exact standard input of the next run. Once the editor's text has been
// edited it is that text as a text file: with a line end at the end, as every
// editor that saves one adds. Until then it is the bytes from the link or the
// example, which may hold carriage returns or lack the final line end.
let source = '';
let job = null;
// The input of the last run, which what is said under the output is about.
let ran = null;
let examples = [];
// The step the Step view shows, {step, text}, or null.
let stepShown = null;

function textFile(text) {
  return text === '' || text.endsWith('\n') ? text : text + '\n';
}

const editor = createEditor($('program'), {
  onRun: () => run(),
  onEdit(text) {
    why.forget();
    source = textFile(text);
    menu.value = '';
    keptWork.keepEdits();
  },
  onChange() {
    share(source);
    undoButton.disabled = !editor.canUndo();
    askVerdict();
  },
});
// For the browser tests and the console: the editor itself.
window.playgroundEditor = editor.view;
// Why the last run ended as it did; an edit makes it stale.
const why = whyView($('why'), editor);

// Puts a whole program in the editor, as the next run's exact input.
function load(text, options) {
  editor.load(text, options);
  source = text;
  share(text);
}

// The Share link for `text`, or a word that it is too long to be one. While
// the Step view shows a step of `text`, the link opens it there.
function share(text) {
  const address = linkTo(text, stepShown && stepShown.text === text ? stepShown.step : null);
  if (address.length + location.href.split('#')[0].length > linkLimit) {
    shareLink.removeAttribute('href');
    shareLink.textContent = 'Too long to share as a link';
  } else {
    shareLink.href = address;
    shareLink.textContent = 'Share link';
  }
}

// ---- Work kept in this browser ----------------------------------------------

function loadKept(text) {
  load(text);
  source = textFile(text);
  share(source);
  menu.value = '';
}

const keptWork = workKept(editor, loadKept, (words) => { kept.textContent = words; });

// ---- The reader's verdict ---------------------------------------------------

const verdictOf = readerClient((reason) => {
  verdictLine.textContent = `The reader could not be loaded: ${reason}`;
});

let verdictTimer = 0;
function askVerdict() {
  clearTimeout(verdictTimer);
  verdictTimer = setTimeout(async () => {
    const bytes = encoder.encode(source);
    const shown = source;
    const verdict = describe(bytes, await verdictOf(bytes), editor.view.state.doc.length);
    if (shown !== source) return; // edited meanwhile; a newer verdict is on its way
    verdictLine.textContent = verdict.line;
    editor.dimUnread(verdict.unread || null);
  }, 150);
}

// A run that printed nothing after the banner ended while the reader was still
// reading: the pane says where and why, and the editor marks what it read.
async function explainSilence(input) {
  const verdict = describe(input, await verdictOf(input), editor.view.state.doc.length);
  if (verdict.silent && input === ran) why.said(`Nothing was printed after the banner. ${verdict.silent}`, verdict.unfinished);
}

// ---- Runs --------------------------------------------------------------------

// Ends the current run, if any, with `message`; `whole` when it wrote all.
function finish(message, whole = false) {
  // The worker goes first: showing what it wrote may take a while.
  if (job) job.end();
  job = null;
  pane.end(whole);
  stopButton.disabled = !steps.recording();
  state.textContent = message;
}

function run() {
  finish('Running…');
  why.forget();
  pane.clear();
  exitStatus.textContent = '';
  stopButton.disabled = false;
  // On a narrow screen the output pane is below the editor: bring it up.
  $('output-pane').scrollIntoView({block: 'nearest'});
  const input = encoder.encode(source);
  ran = input;
  const started = performance.now();
  let ending = ''; // the last characters written, where an error line stands
  job = startRun(input, {
    output({bytes}) {
      pane.write(bytes);
      ending = (ending + String.fromCharCode(...bytes.subarray(-64))).slice(-64);
      if (pane.written > outputLimit) finish(`Stopped after ${outputLimit >> 20} MiB of output.`);
    },
    exit({status}) {
      const took = performance.now() - started;
      exitStatus.textContent = String(status);
      finish(`Finished in ${(took / 1000).toFixed(2)} s.`, true);
      if (status === 0 && pane.written === banner) explainSilence(input);
      else why.traced(input, took, ending);
    },
    crash: ({reason}) => finish(`The interpreter failed: ${reason}`, true),
  });
}

// Stops the run and the Step view's recording, whichever are under way.
function stop() {
  if (job) finish('Stopped.');
  why.forget();
  steps.stop();
}

// ---- Examples, links and the reference --------------------------------------

// Opens a #program= link: its program goes into the editor and runs at once,
// and with a step the Step view opens there. Whether it did; a link that
// cannot be read changes nothing.
function openLink() {
  const link = readLink(location.hash);
  if (!link) return false;
  if (link.malformed) {
    state.textContent = 'The program in this link is not validly encoded, so it is not opened.';
    return false;
  }
  menu.value = '';
  load(link.text);
  keptWork.linkShown(link.text);
  run();
  if (link.step) steps.record(link.step - 1);
  return true;
}

function choose(text) {
  load(text);
  keptWork.keepEdits();
  run();
}

async function loadExamples(fillEditor) {
  const response = await fetch('examples.json');
  if (!response.ok) throw new Error(`${response.status} ${response.statusText}`);
  examples = await response.json();
  for (const example of examples) {
    const option = document.createElement('option');
    option.value = example.name;
    option.textContent = `${example.name}: ${example.description}`;
    menu.append(option);
  }
  if (fillEditor && editor.view.state.doc.length === 0 && examples.length > 0) {
    load(examples[0].program, {undoable: false});
    menu.value = examples[0].name;
  }
}

$('run').addEventListener('click', run);
stopButton.addEventListener('click', stop);
undoButton.addEventListener('click', () => {
  undo(editor.view);
  editor.view.focus();
});
menu.addEventListener('change', () => {
  const example = examples.find((candidate) => candidate.name === menu.value);
  if (example) choose(example.program);
});
document.addEventListener('keydown', (event) => {
  // In the editor its own key binding has run the program already.
  if (event.key === 'Enter' && (event.ctrlKey || event.metaKey) && !event.defaultPrevented) {
    event.preventDefault();
    run();
  } else if (event.key === 'Escape' && (job || steps.recording())) {
    stop();
  }
});
// The reference's examples: one click puts the call in the editor and runs it.
for (const button of document.querySelectorAll('#reference button[data-program]')) {
  button.addEventListener('click', () => {
    menu.value = '';
    choose(button.dataset.program + '\n');
  });
}
// Following the link to the program already shown changes no address, so it
// runs the program here instead.
shareLink.addEventListener('click', () => {
  if (shareLink.href === location.href) run();
});
window.addEventListener('hashchange', openLink);

const steps = stepView(() => source, (step, text) => {
  stepShown = step === null ? null : {step, text};
  share(source);
}, (recording) => { stopButton.disabled = !job && !recording; },
() => ({text: editor.view.state.doc.toString(), at: editor.view.state.selection.main.head}));

const linked = openLink();
const previous = linked ? null : keptWork.text();
if (previous !== null) {
  load(previous, {undoable: false});
  source = textFile(previous);
  share(source);
  kept.textContent = 'Your text is kept in this browser.';
}
// On a phone the list of what is not in the language, open, would push the
// editor out of sight: there it starts closed, its heading showing.
if (matchMedia('(max-width: 40rem)').matches) $('not-in-language').open = false;
if (!linked && !state.textContent) state.textContent = 'Write an expression or choose an example, then Run.';
askVerdict();
loadExamples(!linked && previous === null).catch((error) => {
  state.textContent = `The examples could not be loaded: ${error.message}`;
});
