// The Step view: records a run with the traced interpreter (vellumark-trace
// --json, in a worker of its own) and lets the reader move through it, one
// event at a time, with the binding stack, the forms waiting for a value and
// the output so far as they were at that moment (recording.js keeps them).
// Everything from the trace is put on the page as text, never as markup.
import {startRun} from './protocol.js';
import {Recording, TraceReader, describe, endOf, lengthOf, newest} from './recording.js';

// Connects the Step view's elements; `source()` is the text Run would run.
// onStep(step, text) follows the step shown (from 1) and the program text it
// is a step of, or null when the view is closed; onRecording(active) follows
// whether a recording is under way; cursor() is the editor's text and the
// offset of its cursor, whose name "Next lookup" looks for. Returns {record(at), stop(), recording()}:
// record() records `source()` and opens the view at step index `at`, or where
// it opens by itself: at the error of a failed run, else at the first form.
export function stepView(source, onStep, onRecording, cursor) {
  const $ = (id) => document.getElementById(id);
  const stepButton = $('step');
  const view = $('step-view');
  const previousButton = $('step-previous');
  const nextButton = $('step-next');
  const firstButton = $('step-first');
  const lastButton = $('step-last');
  const number = $('step-number');
  const slider = $('step-slider');
  const counter = $('step-counter');
  const said = $('step-event');
  const programPane = $('step-program');
  const currentForm = $('current-form');
  const bindingsPane = $('bindings');
  const waitingPane = $('waiting');
  const outputPane = $('step-output');
  const explanationPane = $('explanation');
  // Moving by meaning: to the previous or next call of the procedure at hand,
  // and to the next lookup of the name under the editor's cursor. Made here,
  // a second row of the view's controls.
  const jumps = document.createElement('div');
  jumps.className = 'bar';
  const button = (id, text, title) => {
    const made = document.createElement('button');
    made.type = 'button';
    made.id = id;
    made.textContent = text;
    made.title = title;
    made.disabled = true;
    return made;
  };
  const previousCall = button('step-previous-call', '◀ Previous call', 'P');
  const nextCall = button('step-next-call', 'Next call ▶', 'N');
  const nextLookup = button('step-next-lookup', 'Next lookup of the name under the cursor', 'L');
  const jumped = document.createElement('span');
  jumped.id = 'step-jumped';
  jumped.setAttribute('role', 'status');
  jumps.append(previousCall, nextCall, nextLookup, jumped);
  view.querySelector('.bar').after(jumps);

  // Panels that scroll are reached by the keyboard too.
  for (const pane of [programPane, bindingsPane, waitingPane, outputPane]) pane.tabIndex = 0;

  // Each panel shows a bounded window, so that one step takes the same time
  // whatever the program: the program around the current form, the newest
  // bindings and waiting forms (with how many more there are), the end of the
  // output so far, and texts cut in the middle.
  const bindingsShown = 60;
  const waitingShown = 40;
  const outputShown = 8192;
  const programAround = 2048;
  const textShown = 2048;
  // A recording holds at most this much of the trace; past it, it stops and
  // keeps what it holds, as Stop does. A run that prints hundreds of
  // megabytes would otherwise make a text larger than a string can be.
  const traceLimit = 64 << 20;

  let recording = new Recording([]);
  let events = [];
  let program = new Uint8Array();
  let lineStarts = [0];
  let current = 0;
  let recorder = null;
  let recordedText = '';
  let reader = new TraceReader();
  let recordedBytes = 0;
  let stoppedEarly = '';
  // The steps that call a procedure, in order, and each one's procedure.
  let calls = [];
  let callNames = [];
  let callsOf = new Map();

  function cut(text) {
    if (text.length <= textShown) return text;
    const half = textShown >> 1;
    return `${text.slice(0, half)} … ${text.slice(text.length - half)}`;
  }

  // Moves a byte offset back to the start of the character it is in.
  function characterStart(at) {
    while (at > 0 && at < program.length && (program[at] & 0xc0) === 0x80) --at;
    return at;
  }

  // `program` from `from` to `to` as text, the middle left out past `most`.
  function programText(from, to, most) {
    const decoder = new TextDecoder();
    if (to - from <= most) return decoder.decode(program.subarray(from, to));
    const half = most >> 1;
    return `${decoder.decode(program.subarray(from, characterStart(from + half)))} … ` +
      decoder.decode(program.subarray(characterStart(to - half), to));
  }

  // The program with the stretch `place` ([line, column, endLine, endColumn]
  // of bytes, from 1) marked, and at most `programAround` bytes before and
  // after it, from and to a line's end where one is near.
  function showProgram(place) {
    programPane.replaceChildren();
    if (!place) {
      programPane.append(programText(0, program.length, 2 * programAround));
      return;
    }
    const offset = (line, column) =>
      Math.min(program.length, (lineStarts[line - 1] ?? program.length) + column - 1);
    const start = offset(place[0], place[1]);
    const end = Math.max(start, offset(place[2], place[3]) + 1);
    let from = characterStart(Math.max(0, start - programAround));
    const lineStart = program.subarray(from, start).indexOf(10);
    if (from > 0 && lineStart >= 0) from += lineStart + 1;
    let to = characterStart(Math.min(program.length, end + programAround));
    const lineEnd = program.subarray(end, to).lastIndexOf(10);
    if (to < program.length && lineEnd >= 0) to = end + lineEnd;
    const mark = document.createElement('mark');
    mark.append(programText(start, end, 2 * programAround));
    programPane.append(from > 0 ? '… ' : '', programText(from, start, Infinity), mark, programText(end, to, Infinity),
      to < program.length ? ' …' : '');
    mark.scrollIntoView({block: 'nearest'});
  }

  // Where `name` occurs as a whole token in the stretch `place`, after the
  // parameter list when the stretch is a procedure; or null.
  function nameIn(place, name, inBody) {
    if (!place) return null;
    const offset = (line, column) =>
      Math.min(program.length, (lineStarts[line - 1] ?? program.length) + column - 1);
    const start = offset(place[0], place[1]);
    const end = offset(place[2], place[3]) + 1;
    // A name is looked up near the start of its form: the search is bounded,
    // as every panel is.
    const text = program.subarray(start, Math.min(end, start + programAround));
    const bytes = new TextEncoder().encode(name);
    const delimiter = (byte) => byte === undefined || ' \t\r\n()\''.includes(String.fromCharCode(byte));
    let from = 0;
    if (inBody) {
      // (lambda (parameters) body): past the parameter list's closing bracket.
      const open = text.indexOf(40, 1);
      from = open < 0 ? 0 : text.indexOf(41, open) + 1;
    }
    for (let at = from; at + bytes.length <= text.length; ++at) {
      if (bytes.every((byte, i) => text[at + i] === byte) && delimiter(text[at - 1]) && delimiter(text[at + bytes.length])) {
        const where = (position) => {
          let low = 1;
          let high = lineStarts.length;
          while (low < high) {
            const middle = (low + high + 1) >> 1;
            if (lineStarts[middle - 1] <= position) low = middle;
            else high = middle - 1;
          }
          return [low, position - lineStarts[low - 1] + 1];
        };
        return [...where(start + at), ...where(start + at + bytes.length - 1)];
      }
    }
    return null;
  }

  // What a lookup evaluates is the name itself: in the form at hand, or, when
  // the name alone is a procedure's body, in that body.
  function lookupPlace(state, name) {
    return nameIn(state.place, name, false) ?? nameIn(state.callee, name, true) ?? state.place;
  }

  function item(text, className) {
    const entry = document.createElement('li');
    entry.append(text);
    if (className) entry.className = className;
    return entry;
  }

  // Newest first, each call's bindings together under the call that made
  // them; a binding hidden by a newer one of its name is dimmed, the one a
  // lookup just found is marked. Both say so in words, and at a lookup, the
  // bindings of the name looked up say who made each.
  function showBindings(state, lookedUp) {
    bindingsPane.replaceChildren();
    const seen = new Set();
    let group = null;
    let groupOf = null;
    for (const binding of newest(state.bindings, bindingsShown)) {
      if (!group || binding.group !== groupOf) {
        groupOf = binding.group;
        const caption = document.createElement('span');
        caption.className = 'by';
        caption.append(`by ${binding.by}`);
        group = document.createElement('ol');
        const entry = item(caption, 'group');
        entry.append(group);
        bindingsPane.append(entry);
      }
      const classes = [];
      const hidden = seen.has(binding.name);
      const found = binding.position === state.found;
      if (hidden) classes.push('shadowed');
      if (found) classes.push('found');
      seen.add(binding.name);
      const row = item(cut(`${binding.name} ↦ ${binding.value}`), classes.join(' '));
      if (found || hidden) {
        const words = document.createElement('span');
        words.className = 'said';
        words.append(found ? ' — found' : ' — hidden by a newer one');
        if (binding.name === lookedUp) words.append(`, made by ${cut(binding.by)}`);
        row.append(words);
      }
      group.append(row);
    }
    more(bindingsPane, lengthOf(state.bindings), bindingsShown, 'older binding');
  }

  // Says how many of `total` entries a panel that shows `shown` leaves out.
  function more(pane, total, shown, what) {
    if (total === 0) pane.append(item('(none)', 'none'));
    else if (total > shown) pane.append(item(`… and ${total - shown} ${what}${total - shown === 1 ? '' : 's'} more`, 'none'));
  }

  function showWaiting(state) {
    waitingPane.replaceChildren();
    for (const entry of newest(state.waiting, waitingShown)) waitingPane.append(item(cut(entry.form)));
    more(waitingPane, lengthOf(state.waiting), waitingShown, 'form');
  }

  function showOutput(state) {
    const {text, before} = endOf(state.output, outputShown);
    outputPane.textContent = before > 0 ? `… (${before} characters before)\n${text}` : text;
  }

  // Moving through a recording needs one; while none is open, or one is
  // being made, the controls are off.
  function enable(on) {
    for (const control of [firstButton, previousButton, nextButton, lastButton, slider, number, previousCall, nextCall,
      nextLookup]) control.disabled = !on;
  }

  function clear() {
    events = [];
    stoppedEarly = '';
    recording = new Recording([]);
    enable(false);
    for (const pane of [said, currentForm, programPane, bindingsPane, waitingPane, outputPane]) pane.replaceChildren();
    explanationPane.hidden = true;
  }

  function show(index) {
    if (events.length === 0) return;
    current = Math.max(0, Math.min(events.length - 1, index));
    const state = recording.stateAt(current);
    const [words, form] = describe(events[current]);
    said.textContent = cut(words);
    currentForm.textContent = cut(form);
    counter.textContent = `step ${current + 1} of ${events.length}${state.gap ? ' (after events left out)' : ''}` +
      (stoppedEarly ? `, the recording stopped before the run ended${stoppedEarly === true ? '' : stoppedEarly}` : '');
    slider.value = String(current);
    previousButton.disabled = firstButton.disabled = current === 0;
    nextButton.disabled = lastButton.disabled = current === events.length - 1;
    number.value = String(current + 1);
    showCalls();
    onStep(current + 1, recordedText);
    const event = events[current];
    showProgram(event.event === 'lookup' ? lookupPlace(state, event.name) : state.place);
    showBindings(state, event.event === 'lookup' ? event.name : null);
    showWaiting(state);
    showOutput(state);
  }

  // The last of the sorted `list` below `index`, or the first above it.
  function before(list, index) {
    let low = 0;
    let high = list.length;
    while (low < high) {
      const middle = (low + high) >> 1;
      if (list[middle] < index) low = middle + 1;
      else high = middle;
    }
    return low - 1;
  }

  function after(list, index) {
    return before(list, index + 1) + 1;
  }

  // The procedure at hand is the one whose call is the newest at or before
  // the step (or the first called); the buttons name it.
  function procedureAt(index) {
    if (calls.length === 0) return null;
    return callNames[Math.max(0, after(calls, index) - 1)];
  }

  function showCalls() {
    const name = procedureAt(current);
    const own = name === null ? [] : callsOf.get(name);
    const earlier = before(own, current);
    const later = after(own, current);
    previousCall.disabled = earlier < 0;
    nextCall.disabled = later >= own.length;
    previousCall.textContent = name === null ? '◀ Previous call' : `◀ Previous call of ${cut(name)}`;
    nextCall.textContent = name === null ? 'Next call ▶' : `Next call of ${cut(name)} ▶`;
    jumped.textContent = '';
  }

  function toCall(forward) {
    if (events.length === 0) return;
    const name = procedureAt(current);
    if (name === null) return;
    const own = callsOf.get(name);
    const to = forward ? own[after(own, current)] : own[before(own, current)];
    if (to !== undefined) show(to);
  }

  // A name is what lies between brackets, spaces and quotes.
  function nameAtCursor() {
    if (!cursor) return '';
    const {text, at} = cursor();
    const delimiter = /[\s()']/;
    let from = at;
    let to = at;
    while (from > 0 && !delimiter.test(text[from - 1])) --from;
    while (to < text.length && !delimiter.test(text[to])) ++to;
    return text.slice(from, to);
  }

  function toLookup() {
    if (events.length === 0) return;
    const name = nameAtCursor() || (events[current].event === 'lookup' ? events[current].name : '');
    if (!name) {
      jumped.textContent = 'Put the editor\'s cursor on a name first.';
      return;
    }
    for (let i = current + 1; i < events.length; ++i) {
      if (events[i].event === 'lookup' && events[i].name === name) {
        show(i);
        jumped.textContent = `The next lookup of ${cut(name)}.`;
        return;
      }
    }
    jumped.textContent = `No later lookup of ${cut(name)}.`;
  }

  // The steps that call a procedure: a name looked up as the head of the
  // form just evaluated (a procedure of the program's), or a built-in applied.
  function findCalls() {
    calls = [];
    callNames = [];
    callsOf = new Map();
    events.forEach((event, index) => {
      const previous = events[index - 1];
      const called = event.event === 'apply' ||
        event.event === 'lookup' && previous && previous.event === 'eval' &&
        (previous.form.startsWith(`(${event.name} `) || previous.form === `(${event.name})`);
      if (!called) return;
      calls.push(index);
      callNames.push(event.name);
      if (!callsOf.has(event.name)) callsOf.set(event.name, []);
      callsOf.get(event.name).push(index);
    });
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
      paragraph.append(cut(event.event === 'error' ? event.line : event.text));
      if (event.form) {
        const form = document.createElement('mark');
        form.append(cut(event.form));
        paragraph.append(' — in ', form);
      }
      explanationPane.append(paragraph);
    }
  }

  // Opens the events read so far, to the last whole one.
  function opened(at) {
    events = reader.read();
    recording = new Recording(events);
    findCalls();
    lineStarts = [0];
    for (let at = program.indexOf(10); at >= 0; at = program.indexOf(10, at + 1)) lineStarts.push(at + 1);
    if (events.length === 0) {
      counter.textContent = 'The recording holds no step.';
      return;
    }
    enable(true);
    slider.max = String(events.length - 1);
    view.hidden = false;
    showExplanation();
    // The error of a failed run, else the first step that evaluates
    // something, after the banner and the echo.
    const error = events.findIndex((event) => event.event === 'error');
    const first = events.findIndex((event) => event.event === 'eval');
    show(at ?? (error >= 0 ? error : Math.max(0, first)));
    view.scrollIntoView({block: 'start'});
    stepButton.textContent = 'Step';
  }

  function stopRecording(message) {
    if (recorder) recorder.end();
    recorder = null;
    stepButton.textContent = 'Step';
    if (message) counter.textContent = message;
    onRecording(false);
  }

  // Stops a recording under way (Stop, Escape, or Step again) and opens what
  // it holds, to its last whole event, at that event. Whether one was under way.
  function stop(why = '') {
    if (!recorder) return false;
    stopRecording('');
    stoppedEarly = why || true;
    open(Infinity);
    if (events.length === 0 && counter.textContent === '') counter.textContent = 'The recording was stopped before its first step.';
    return true;
  }

  // Opens a recording, or says why it could not be.
  function open(at) {
    try {
      opened(at);
    } catch (error) {
      clear();
      counter.textContent = `The recording could not be opened: ${error.message}`;
    }
  }

  function record(at = null) {
    if (stop()) return;
    recordedText = source();
    program = new TextEncoder().encode(recordedText);
    clear();
    reader = new TraceReader();
    recordedBytes = 0;
    stepButton.textContent = 'Stop recording';
    counter.textContent = 'Recording the run…';
    view.hidden = false;
    onRecording(true);
    recorder = startRun(program, {
      output({bytes}) {
        recordedBytes += bytes.length;
        reader.add(bytes);
        if (recordedBytes > traceLimit) stop(` (at ${traceLimit >> 20} MiB of trace, all a recording holds)`);
      },
      exit() {
        stopRecording('');
        open(at);
      },
      crash: ({reason}) => stopRecording(`The interpreter failed: ${reason}`),
    }, {traced: true});
  }

  stepButton.addEventListener('click', () => record());
  firstButton.addEventListener('click', () => show(0));
  previousButton.addEventListener('click', () => show(current - 1));
  nextButton.addEventListener('click', () => show(current + 1));
  lastButton.addEventListener('click', () => show(events.length - 1));
  // Typed and confirmed (Enter, or leaving the field); an empty or partial
  // number is left for the user to finish.
  number.addEventListener('change', () => {
    if (Number.isInteger(number.valueAsNumber)) show(number.valueAsNumber - 1);
  });
  previousCall.addEventListener('click', () => toCall(false));
  nextCall.addEventListener('click', () => toCall(true));
  nextLookup.addEventListener('click', toLookup);
  slider.addEventListener('input', () => show(Number(slider.value)));
  $('step-close').addEventListener('click', () => {
    stopRecording('');
    view.hidden = true;
    onStep(null, '');
  });
  document.addEventListener('keydown', (event) => {
    if (view.hidden || events.length === 0 || event.target === slider) return;
    // Arrows keep their meaning in the editor and in every other field.
    if (event.target.closest && event.target.closest('textarea, input, select, #program, .cm-editor')) return;
    if (event.key === 'ArrowRight') show(current + 1);
    else if (event.key === 'ArrowLeft') show(current - 1);
    else if (event.key === 'Home') show(0);
    else if (event.key === 'End') show(events.length - 1);
    else if (event.ctrlKey || event.metaKey || event.altKey) return;
    else if (event.key === 'n') toCall(true);
    else if (event.key === 'p') toCall(false);
    else if (event.key === 'l') toLookup();
    else return;
    event.preventDefault();
  });
  return {record, stop, recording: () => recorder !== null};
}
