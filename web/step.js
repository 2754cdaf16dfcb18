// The Step view: records a run with the traced interpreter (vellumark-trace
// --json, in a worker of its own) and lets the reader move through it, one
// event at a time, with the binding stack, the forms waiting for a value and
// the output so far as they were at that moment.
//
// What is shown at a step is a function of the events up to it: the state is
// rebuilt by replaying them from the nearest checkpoint, so moving back shows
// exactly what was shown before. Everything from the trace is put on the page
// as text, never as markup.
import {startRun} from './protocol.js';

// Connects the Step view's elements; `source()` is the text Run would run.
export function stepView(source) {
  const $ = (id) => document.getElementById(id);
  const stepButton = $('step');
  const view = $('step-view');
  const previousButton = $('step-previous');
  const nextButton = $('step-next');
  const slider = $('step-slider');
  const counter = $('step-counter');
  const said = $('step-event');
  const programPane = $('step-program');
  const currentForm = $('current-form');
  const bindingsPane = $('bindings');
  const waitingPane = $('waiting');
  const outputPane = $('step-output');
  const explanationPane = $('explanation');

  // A full copy of the state every so many events bounds the replay behind
  // any step, whatever the length of the trace.
  const checkpointEvery = 256;

  let events = [];
  let checkpoints = [];
  let program = new Uint8Array();
  let current = 0;
  let recorder = null;

  function emptyState() {
    return {bindings: [], waiting: [], output: '', found: null, place: null, gap: false};
  }

  function copyOf(state) {
    return {...state, bindings: state.bindings.slice(), waiting: state.waiting.slice()};
  }

  // One event's change to what is shown.
  function advance(state, event) {
    state.found = null;
    switch (event.event) {
      case 'eval':
        state.waiting = state.waiting.filter((entry) => entry.depth <= event.depth);
        if (event.at) state.place = event.at;
        break;
      case 'wait':
        state.waiting = state.waiting.filter((entry) => entry.depth < event.depth);
        state.waiting.push({depth: event.depth, form: event.form});
        break;
      case 'value':
        state.waiting = state.waiting.filter((entry) => entry.depth < event.depth);
        break;
      case 'bind':
        state.bindings.push({name: event.name, value: event.value, by: event.by, position: event.binding});
        if (event.at) state.place = event.at;
        break;
      case 'unbind':
        state.bindings.splice(Math.max(0, state.bindings.length - event.count));
        break;
      case 'lookup':
        state.found = event.binding;
        break;
      case 'cond':
      case 'explanation':
        if (event.at) state.place = event.at;
        break;
      case 'output':
        state.output += event.text;
        break;
      case 'skipped':
        state.gap = true;
        break;
    }
  }

  // The state after the event at `index`.
  function stateAt(index) {
    const checkpoint = Math.floor(index / checkpointEvery);
    const state = copyOf(checkpoints[checkpoint]);
    for (let i = checkpoint * checkpointEvery; i <= index; ++i) advance(state, events[i]);
    return state;
  }

  function prepare() {
    checkpoints = [];
    const state = emptyState();
    for (let i = 0; i < events.length; ++i) {
      if (i % checkpointEvery === 0) checkpoints.push(copyOf(state));
      advance(state, events[i]);
    }
  }

  // What an event is, in a few words, and the text of the form it is about.
  function describe(event) {
    switch (event.event) {
      case 'eval': return [`Evaluate ${event.form}`, event.form];
      case 'wait': return [`${event.form} waits for the value of its ${event.for}`, event.form];
      case 'value': return [`The value ${event.value} goes back to the waiting form (${event.to})`, event.value];
      case 'bind': return [`Bind ${event.name} to ${event.value}, as written, by ${event.by}`, event.name];
      case 'unbind': return [`The call is done: pop ${event.count} binding${event.count === 1 ? '' : 's'}`, ''];
      case 'lookup':
        return [event.binding === null ? `Look up ${event.name}: no binding`
          : `Look up ${event.name}: ${event.value}`, event.name];
      case 'cond':
        return [event.test === null ? `The last clause is taken without its test`
          : `The test gave ${event.test}: clause ${event.taken ? 'taken' : 'not taken'}`, event.clause];
      case 'apply': {
        const form = `(${[event.name, ...event.operands].join(' ')})`;
        return [`Apply ${event.builtin ? 'the built-in' : 'the name, no built-in,'} ${event.name}: ${event.result}`, form];
      }
      case 'output': return ['The program writes', event.text];
      case 'skipped': return [`${event.count} events left out here; the panels show only what the later events say`, ''];
      case 'error': return [event.line, event.line];
      case 'explanation':
      case 'note': return [event.text, event.form || ''];
      case 'end': return [`The run ends with status ${event.status}`, ''];
    }
    return [event.event, ''];
  }

  // The program with the stretch `place` ([line, column, endLine, endColumn]
  // of bytes, from 1) marked.
  function showProgram(place) {
    programPane.replaceChildren();
    const decoder = new TextDecoder();
    if (!place) {
      programPane.append(decoder.decode(program));
      return;
    }
    const offset = (line, column) => {
      let at = 0;
      for (let l = 1; l < line && at < program.length; ++at) if (program[at] === 10) ++l;
      return Math.min(program.length, at + column - 1);
    };
    const start = offset(place[0], place[1]);
    const end = offset(place[2], place[3]) + 1;
    const mark = document.createElement('mark');
    mark.append(decoder.decode(program.subarray(start, end)));
    programPane.append(decoder.decode(program.subarray(0, start)), mark, decoder.decode(program.subarray(end)));
    mark.scrollIntoView({block: 'nearest'});
  }

  function item(text, className) {
    const entry = document.createElement('li');
    entry.append(text);
    if (className) entry.className = className;
    return entry;
  }

  // Newest first, each call's bindings together under the call that made
  // them; a binding hidden by a newer one of its name is dimmed, the one a
  // lookup just found is marked.
  function showBindings(state) {
    bindingsPane.replaceChildren();
    const seen = new Set();
    let group = null;
    let groupBy = null;
    for (let i = state.bindings.length - 1; i >= 0; --i) {
      const binding = state.bindings[i];
      if (!group || binding.by !== groupBy) {
        groupBy = binding.by;
        const caption = document.createElement('span');
        caption.className = 'by';
        caption.append(`by ${binding.by}`);
        group = document.createElement('ol');
        const entry = item(caption, 'group');
        entry.append(group);
        bindingsPane.append(entry);
      }
      const classes = [];
      if (seen.has(binding.name)) classes.push('shadowed');
      if (binding.position === state.found) classes.push('found');
      seen.add(binding.name);
      group.append(item(`${binding.name} ↦ ${binding.value}`, classes.join(' ')));
    }
    if (state.bindings.length === 0) bindingsPane.append(item('(none)', 'none'));
  }

  function showWaiting(state) {
    waitingPane.replaceChildren();
    for (let i = state.waiting.length - 1; i >= 0; --i) waitingPane.append(item(state.waiting[i].form));
    if (state.waiting.length === 0) waitingPane.append(item('(none)', 'none'));
  }

  // Moving through a recording needs one; while none is open, or one is
  // being made, the controls are off.
  function enable(on) {
    for (const control of [previousButton, nextButton, slider]) control.disabled = !on;
  }

  function clear() {
    events = [];
    checkpoints = [];
    enable(false);
    for (const pane of [said, currentForm, programPane, bindingsPane, waitingPane, outputPane]) pane.replaceChildren();
    explanationPane.hidden = true;
  }

  function show(index) {
    if (events.length === 0) return;
    current = Math.max(0, Math.min(events.length - 1, index));
    const state = stateAt(current);
    const [words, form] = describe(events[current]);
    said.textContent = words;
    currentForm.textContent = form;
    counter.textContent = `step ${current + 1} of ${events.length}${state.gap ? ' (after events left out)' : ''}`;
    slider.value = String(current);
    previousButton.disabled = current === 0;
    nextButton.disabled = current === events.length - 1;
    showProgram(state.place);
    showBindings(state);
    showWaiting(state);
    outputPane.textContent = state.output;
  }

  // The error and its explanation, or the notes of a run that ended well,
  // shown whatever the step.
  function showExplanation() {
    explanationPane.replaceChildren();
    const told = events.filter((event) => ['error', 'explanation', 'note'].includes(event.event));
    explanationPane.hidden = told.length === 0;
    for (const event of told) {
      const paragraph = document.createElement('p');
      paragraph.className = event.event;
      paragraph.append(event.event === 'error' ? event.line : event.text);
      if (event.form) {
        const form = document.createElement('mark');
        form.append(event.form);
        paragraph.append(' — in ', form);
      }
      explanationPane.append(paragraph);
    }
  }

  // The trace writes each byte of a text as the code point of its value, so
  // that any bytes survive; the program's own text is UTF-8.
  const utf8 = new TextDecoder();
  function decoded(value) {
    if (typeof value === 'string') return utf8.decode(Uint8Array.from(value, (c) => c.charCodeAt(0)));
    if (Array.isArray(value)) return value.map(decoded);
    return value;
  }

  function opened(text) {
    events = text.split('\n').filter((line) => line).map((line) => {
      const event = JSON.parse(line);
      for (const key of Object.keys(event)) event[key] = decoded(event[key]);
      return event;
    });
    prepare();
    if (events.length === 0) {
      counter.textContent = 'The recording holds no step.';
      return;
    }
    enable(true);
    slider.max = String(events.length - 1);
    view.hidden = false;
    showExplanation();
    // The first step that evaluates something, after the banner and the echo.
    const first = events.findIndex((event) => event.event === 'eval');
    show(first >= 0 ? first : 0);
    view.scrollIntoView({block: 'start'});
    stepButton.textContent = 'Step';
  }

  function stopRecording(message) {
    if (recorder) recorder.end();
    recorder = null;
    stepButton.textContent = 'Step';
    if (message) counter.textContent = message;
  }

  function record() {
    if (recorder) {
      stopRecording('Recording stopped.');
      return;
    }
    program = new TextEncoder().encode(source());
    clear();
    const chunks = [];
    stepButton.textContent = 'Stop recording';
    counter.textContent = 'Recording the run…';
    view.hidden = false;
    recorder = startRun(program, {
      output: ({bytes}) => chunks.push(bytes),
      exit() {
        stopRecording('');
        const decoder = new TextDecoder();
        opened(chunks.map((chunk) => decoder.decode(chunk, {stream: true})).join('') + decoder.decode());
      },
      crash: ({reason}) => stopRecording(`The interpreter failed: ${reason}`),
    }, {traced: true});
  }

  stepButton.addEventListener('click', record);
  previousButton.addEventListener('click', () => show(current - 1));
  nextButton.addEventListener('click', () => show(current + 1));
  slider.addEventListener('input', () => show(Number(slider.value)));
  $('step-close').addEventListener('click', () => {
    stopRecording('');
    view.hidden = true;
  });
  document.addEventListener('keydown', (event) => {
    if (view.hidden || events.length === 0 || event.target === slider) return;
    // Arrows keep their meaning in the editor and in every other field.
    if (event.target.closest && event.target.closest('textarea, input, select, #program, .cm-editor')) return;
    if (event.key === 'ArrowRight') show(current + 1);
    else if (event.key === 'ArrowLeft') show(current - 1);
    else return;
    event.preventDefault();
  });
}
