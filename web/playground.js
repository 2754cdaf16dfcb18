// The playground page: the editor, the reader's verdict under it, the example
// menu and the reference, Run and Stop, the output pane, the exit status and a
// link that shares the program. `make web` bundles this file with CodeMirror
// (see package.json) into the site's playground.js.
//
// Every run gets a Web Worker of its own (worker.js) with a fresh interpreter
// in it, so no run sees another's definitions, a long run never holds up the
// page, and Stop only has to end the worker. The reader's verdict comes from a
// second, long-lived worker (reader.js) that runs the interpreter's own reader.
// Program text and output are only ever handled as text: a link may carry
// anyone's program.
import {Annotation, EditorState, Prec, RangeSetBuilder, StateEffect, StateField, Transaction} from '@codemirror/state';
import {Decoration, EditorView, ViewPlugin, drawSelection, keymap, lineNumbers} from '@codemirror/view';
import {defaultKeymap, history, historyKeymap, indentWithTab, undo, undoDepth} from '@codemirror/commands';
import {bracketMatching, indentService} from '@codemirror/language';

const menu = document.getElementById('examples');
const undoButton = document.getElementById('undo');
const runButton = document.getElementById('run');
const stopButton = document.getElementById('stop');
const shareLink = document.getElementById('share');
const kept = document.getElementById('kept');
const verdictLine = document.getElementById('verdict');
const outputPane = document.getElementById('output-pane');
const output = document.getElementById('output');
const why = document.getElementById('why');
const exitStatus = document.getElementById('status');
const state = document.getElementById('state');

// Beyond this much output the page itself would run out of memory, so the run
// is stopped there instead.
const outputLimit = 64 << 20;
// The pane shows at most this many characters: laying out text costs time and
// memory in proportion to all of it, some five seconds for 1 MiB on one line
// in Chromium here (23 MB took 26 s and 3.6 GB), so more would hold the page,
// and Stop with it. The rest is counted, not kept.
const shownLimit = 1 << 18;
// Lines cost more than their characters: a million short lines hold the page
// for seconds. So the pane also shows at most this many lines.
const linesShown = 20000;
// Chromium opens no address longer than 2 MiB; a longer link would not open.
const linkLimit = 2 << 20;
const storageKey = 'vellumark.program';
// The bytes of "Vellumark" and the empty line after it.
const banner = 11;

// The Content-Security-Policy requires Trusted Types: no string reaches a sink
// for markup or script unless a policy made it, and the one policy only ever
// makes the two workers' addresses. So even a slip such as writing output
// through innerHTML fails rather than running a linked program's markup.
const scripts = window.trustedTypes
  ? trustedTypes.createPolicy('playground', {
    createScriptURL: (name) => {
      if (name !== 'worker.js' && name !== 'reader.js') throw new TypeError(`no script ${name}`);
      return name;
    },
  })
  : {createScriptURL: (name) => name};

const encoder = new TextEncoder();

// The exact standard input of the next run. Once the editor's text has been
// edited it is that text as a text file: with a line end at the end, as every
// editor that saves one adds. Until then it is the bytes from the link or the
// example, which may hold carriage returns or lack the final line end.
let source = '';
let worker = null;
// Shows what the current run wrote that is not shown yet.
let showOutput = () => {};
let examples = [];

// ---- The editor -------------------------------------------------------------

// Marks the transactions that put a whole new program in (an example, a link),
// which do not count as editing it.
const loaded = Annotation.define();

// Colouring by depth: each bracket pair gets the colour of its depth, six
// colours in turn, and a ")" that closes nothing is marked. The language has
// no strings or comments, so every bracket in the text is one.
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

// The part of the text the reader never reads, shown dimmed.
const setUnread = StateEffect.define();
const unreadMark = Decoration.mark({class: 'cm-unread'});
const unread = StateField.define({
  create: () => Decoration.none,
  update(marks, transaction) {
    marks = marks.map(transaction.changes);
    for (const effect of transaction.effects) {
      if (effect.is(setUnread)) {
        marks = effect.value && effect.value.from < effect.value.to
          ? Decoration.set([unreadMark.range(effect.value.from, effect.value.to)])
          : Decoration.none;
      }
    }
    return marks;
  },
  provide: (field) => EditorView.decorations.from(field),
});

const theme = EditorView.theme({
  '&': {height: '100%', fontSize: '14px', backgroundColor: 'var(--editor-bg)', color: 'var(--fg)'},
  // The page draws the focus ring around the editor's box (.editor:focus-within).
  '&.cm-focused': {outline: 'none'},
  '.cm-scroller': {fontFamily: 'ui-monospace, "DejaVu Sans Mono", Menlo, Consolas, monospace', lineHeight: '1.45'},
  '.cm-content': {caretColor: 'var(--fg)'},
  '.cm-gutters': {backgroundColor: 'var(--editor-bg)', color: 'var(--dim)', border: 'none'},
  '.cm-depth-0': {color: 'var(--depth-0)'},
  '.cm-depth-1': {color: 'var(--depth-1)'},
  '.cm-depth-2': {color: 'var(--depth-2)'},
  '.cm-depth-3': {color: 'var(--depth-3)'},
  '.cm-depth-4': {color: 'var(--depth-4)'},
  '.cm-depth-5': {color: 'var(--depth-5)'},
  '.cm-stray': {color: 'var(--error)', textDecoration: 'underline wavy'},
  '&.cm-focused .cm-matchingBracket': {backgroundColor: 'var(--match)', outline: '1px solid var(--dim)'},
  '&.cm-focused .cm-nonmatchingBracket': {backgroundColor: 'var(--error-bg)'},
  '.cm-unread': {opacity: '0.45'},
  '&.cm-focused > .cm-scroller > .cm-selectionLayer .cm-selectionBackground, .cm-selectionBackground':
    {backgroundColor: 'var(--selection)'},
});

function edited(update) {
  if (!update.docChanged) return;
  if (!update.transactions.some((transaction) => transaction.annotation(loaded))) {
    source = textFile(update.state.doc.toString());
    menu.value = '';
    keep();
  }
  share(source);
  undoButton.disabled = undoDepth(update.state) === 0;
  askVerdict();
}

// CodeMirror puts its styles in a style sheet it makes at run time, which the
// page's Content-Security-Policy forbids in the document itself; inside a
// shadow root it uses a constructed sheet, which the policy allows.
const host = document.getElementById('program');
const view = new EditorView({
  root: host.attachShadow({mode: 'open'}),
  parent: host.shadowRoot,
  state: EditorState.create({
    extensions: [
      Prec.highest(keymap.of([{key: 'Mod-Enter', run: () => { run(); return true; }}])),
      lineNumbers(),
      drawSelection(),
      history(),
      bracketMatching({brackets: '()'}),
      depthColouring,
      lispIndent,
      unread,
      keymap.of([...defaultKeymap, ...historyKeymap, indentWithTab]),
      EditorView.contentAttributes.of({'aria-label': 'Program', autocapitalize: 'off', autocorrect: 'off'}),
      EditorView.updateListener.of(edited),
      theme,
    ],
  }),
});
// For the browser tests and the console: the editor itself.
window.playgroundEditor = view;

function textFile(text) {
  return text === '' || text.endsWith('\n') ? text : text + '\n';
}

// Puts a whole program in the editor as one step that Undo takes back.
function load(text, {undoable = true} = {}) {
  view.dispatch({
    changes: {from: 0, to: view.state.doc.length, insert: text},
    annotations: [loaded.of(true), ...(undoable ? [] : [Transaction.addToHistory.of(false)])],
  });
  source = text;
  share(text);
}

// The Share link for `text`, or a word that it is too long to be one.
function share(text) {
  const address = '#program=' + encodeURIComponent(text);
  if (address.length + location.href.split('#')[0].length > linkLimit) {
    shareLink.removeAttribute('href');
    shareLink.textContent = 'Too long to share as a link';
  } else {
    shareLink.href = address;
    shareLink.textContent = 'Share link';
  }
}

// ---- Work kept in this browser ----------------------------------------------

let keepTimer = 0;
function keep() {
  clearTimeout(keepTimer);
  keepTimer = setTimeout(() => {
    try {
      localStorage.setItem(storageKey, view.state.doc.toString());
      kept.textContent = 'Your text is kept in this browser.';
    } catch (error) {
      kept.textContent = error.name === 'QuotaExceededError'
        ? 'Your text is too long to be kept in this browser.'
        : 'Your text is not kept: this browser does not let the page store it.';
    }
  }, 300);
}

function keptText() {
  try {
    return localStorage.getItem(storageKey);
  } catch {
    return null;
  }
}

// ---- The reader's verdict ---------------------------------------------------

let reader = null;
let verdictTimer = 0;
let asked = 0;
const waiting = new Map();

function readerWorker() {
  if (!reader) {
    reader = new Worker(scripts.createScriptURL('reader.js'));
    reader.onmessage = ({data}) => {
      const settle = waiting.get(data.id);
      waiting.delete(data.id);
      if (settle) settle(data.verdict);
    };
    reader.onerror = (event) => {
      event.preventDefault();
      verdictLine.textContent = `The reader could not be loaded: ${event.message || 'no reason given'}`;
    };
  }
  return reader;
}

// What the reader does with `bytes`: {kind, ...byte offsets}, see reader.js.
function verdictOf(bytes) {
  const id = ++asked;
  return new Promise((settle) => {
    waiting.set(id, settle);
    readerWorker().postMessage({id, bytes});
  });
}

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

function firstNonBlank(bytes) {
  return bytes.findIndex((byte) => byte !== 0x20 && byte !== 0x09 && byte !== 0x0a && byte !== 0x0d);
}

// The verdict in words: {line, unread: {from, to} or null, silent: why a run
// of these bytes prints nothing after the banner, or null}.
function describe(bytes, verdict) {
  switch (verdict.kind) {
    case 'ends': {
      const last = place(bytes, verdict.end - 1).where;
      const rest = bytes.subarray(verdict.end);
      if (firstNonBlank(rest) < 0) return {line: `Reads one expression, ending at ${last}.`};
      const from = place(bytes, verdict.end).pos;
      return {
        line: `Reads one expression, ending at ${last}; nothing after ${last} is read.`,
        unread: {from, to: view.state.doc.length},
      };
    }
    case 'more': {
      const last = place(bytes, bytes.length - 1).where;
      return {
        line: `Reads one expression, ending at ${last}, once one more character follows it.`,
        silent: `The input ends right after the expression at ${last}: the reader needs one more character`
          + ' after it (a line end will do) before it is read, so nothing was read.',
      };
    }
    case 'open': {
      const first = place(bytes, firstNonBlank(bytes)).where;
      const open = verdict.count === 1 ? `1 '(' still open, at ${first}` : `${verdict.count} '(' still open, the first at ${first}`;
      return {line: `${open}.`, silent: `The input ended before the expression did: ${open}.`};
    }
    case 'error':
      return {line: `The reader stops at ${place(bytes, verdict.at).where}: ${verdict.message}`};
    case 'empty':
      return {line: 'No expression yet.', silent: 'The program holds no expression, so there was nothing to read.'};
    case 'long':
      return {line: 'Too long for a verdict while you type; Run reads it all the same.'};
    default:
      return {line: `The reader could not be run: ${verdict.message}`};
  }
}

function askVerdict() {
  clearTimeout(verdictTimer);
  verdictTimer = setTimeout(async () => {
    const bytes = encoder.encode(source);
    const shown = source;
    const verdict = describe(bytes, await verdictOf(bytes));
    if (shown !== source) return; // edited meanwhile; a newer verdict is on its way
    verdictLine.textContent = verdict.line;
    view.dispatch({effects: setUnread.of(verdict.unread || null)});
  }, 150);
}

// ---- Runs --------------------------------------------------------------------

function finish(message) {
  // The worker goes first: showing what it wrote may take a while.
  if (worker) worker.terminate();
  worker = null;
  showOutput();
  showOutput = () => {};
  stopButton.disabled = true;
  state.textContent = message;
}

function run() {
  finish('Running…');
  output.textContent = '';
  why.textContent = '';
  exitStatus.textContent = '';
  stopButton.disabled = false;
  // On a narrow screen the output pane is below the editor: bring it up.
  outputPane.scrollIntoView({block: 'nearest'});
  const input = encoder.encode(source);
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
  let shown = 0; // characters in the pane, and waiting to be
  let lines = 0;
  let cut = false;
  const noteCut = () => {
    if (!cut) return;
    why.textContent = `The output was cut: the pane shows its first ${shownLimit >> 10} KiB of characters or ` +
      `${linesShown} lines, whichever comes first; the run wrote ${(written / (1 << 20)).toFixed(1)} MiB.`;
  };
  showOutput = () => {
    clearTimeout(timer);
    timer = 0;
    if (!pending) return;
    const batchStarted = performance.now();
    // append() with a string adds a text node: output is never markup.
    output.append(pending);
    noteCut();
    pending = '';
    // Reading the height lays the pane out here rather than at the next
    // frame, so that the time that took is known.
    void output.scrollHeight;
    wait = Math.max(50, 4 * (performance.now() - batchStarted));
  };
  const current = new Worker(scripts.createScriptURL('worker.js'));
  worker = current;
  current.onmessage = ({data}) => {
    if (current !== worker) return;
    if (data.output) {
      written += data.output.length;
      // Past what the pane shows, output is only counted.
      if (!cut) {
        let text = decoder.decode(data.output, {stream: true});
        if (shown + text.length > shownLimit) {
          text = text.slice(0, shownLimit - shown);
          cut = true;
        }
        for (let end = text.indexOf('\n'); end >= 0; end = text.indexOf('\n', end + 1)) {
          if (++lines === linesShown) {
            text = text.slice(0, end + 1);
            cut = true;
            break;
          }
        }
        pending += text;
        shown += text.length;
      }
      if (!timer) timer = setTimeout(showOutput, wait);
      if (written > outputLimit) finish(`Stopped after ${outputLimit >> 20} MiB of output.`);
    } else if ('status' in data) {
      if (!cut) pending += decoder.decode();
      exitStatus.textContent = String(data.status);
      finish(`Finished in ${((performance.now() - started) / 1000).toFixed(2)} s.`);
      noteCut();
      if (data.status === 0 && written === banner) explainSilence(input);
    } else if ('crash' in data) {
      if (!cut) pending += decoder.decode();
      finish(`The interpreter failed: ${data.crash}`);
    }
  };
  current.onerror = (event) => {
    event.preventDefault();
    if (current === worker) finish(`The interpreter failed: ${event.message || 'it could not be loaded'}`);
  };
  current.postMessage(input);
}

// A run that printed nothing after the banner ended while the reader was still
// reading: the pane says where and why.
async function explainSilence(input) {
  const verdict = describe(input, await verdictOf(input));
  if (verdict.silent) why.textContent = `Nothing was printed after the banner. ${verdict.silent}`;
}

function stop() {
  if (worker) finish('Stopped.');
}

// ---- Examples, links and the reference --------------------------------------

// Opens a #program= link: its program goes into the editor and runs at once.
function openLink() {
  const prefix = '#program=';
  if (!location.hash.startsWith(prefix)) return false;
  let text;
  try {
    text = decodeURIComponent(location.hash.slice(prefix.length));
  } catch {
    state.textContent = 'The program in this link is not validly encoded.';
    return true;
  }
  menu.value = '';
  load(text);
  run();
  return true;
}

function choose(text) {
  load(text);
  keep();
  run();
}

function chooseExample() {
  const example = examples.find((candidate) => candidate.name === menu.value);
  if (example) choose(example.program);
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
  if (fillEditor && view.state.doc.length === 0 && examples.length > 0) {
    load(examples[0].program, {undoable: false});
    menu.value = examples[0].name;
  }
}

runButton.addEventListener('click', run);
stopButton.addEventListener('click', stop);
undoButton.addEventListener('click', () => {
  undo(view);
  view.focus();
});
menu.addEventListener('change', chooseExample);
document.addEventListener('keydown', (event) => {
  // In the editor its own key binding has run the program already.
  if (event.key === 'Enter' && (event.ctrlKey || event.metaKey) && !event.defaultPrevented) {
    event.preventDefault();
    run();
  } else if (event.key === 'Escape' && worker) {
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

// What the Step view (step.js) needs of this page: the text Run would run, and
// the address of the worker that runs it.
window.playground = {source: () => source, workerScript: scripts.createScriptURL('worker.js')};

const linked = openLink();
const previous = linked ? null : keptText();
if (previous !== null) {
  load(previous, {undoable: false});
  source = textFile(previous);
  share(source);
  kept.textContent = 'Your text is kept in this browser.';
}
if (!linked) state.textContent = 'Write an expression or choose an example, then Run.';
askVerdict();
loadExamples(!linked && previous === null).catch((error) => {
  state.textContent = `The examples could not be loaded: ${error.message}`;
});
