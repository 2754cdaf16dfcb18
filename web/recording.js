// A recorded run (the events of vellumark-trace --json) and the state the
// Step view shows after any one of its events: the binding stack, the forms
// waiting for a value, the output so far, the place in the program.
//
// The state after an event is a function of the events up to it, rebuilt by
// replaying them from the nearest checkpoint, so moving back shows exactly
// what was shown before. The stacks and the output are lists that share their
// older part, so a checkpoint costs the same whatever their length, and one
// step replays at most `checkpointEvery` events, each in constant time (but
// an unbind, which pops what its call bound).

// A checkpoint every so many events bounds the replay behind any step,
// whatever the length of the trace.
const checkpointEvery = 256;

// The trace writes each byte above 127 of a text as the code point of its
// value, so that any bytes survive: in UTF-8, a lead byte 0xc2 or 0xc3 and
// one more. Put back in place, over whole lines, they make the texts' own
// bytes (the program's text is UTF-8), and one decoding of all the lines
// gives every text at once, where decoding each string of each event again
// took most of the time of opening a long recording. The JSON around them is
// ASCII; a character the trace cut in two decodes to U+FFFD as it would alone,
// since the quote after it is no continuation byte. Works in place.
function textBytes(trace) {
  let to = 0;
  for (let from = 0; from < trace.length; ++from) {
    const byte = trace[from];
    trace[to++] = byte < 0x80 ? byte : ((byte & 0x03) << 6) | (trace[++from] & 0x3f);
  }
  return trace.subarray(0, to);
}

// Reads the trace's lines as its blocks come in, while the run goes on, so
// that little is left to read when it ends. `events` holds the events of the
// whole lines so far; the blocks after the last line end wait for the next.
export class TraceReader {
  constructor() {
    this.events = [];
    this.rest = [];
    this.failure = null;
    this.decoder = new TextDecoder();
  }

  // Takes the next block of the trace (and may change its bytes).
  add(bytes) {
    if (this.failure) return;
    const end = bytes.lastIndexOf(10) + 1;
    if (end === 0) {
      this.rest.push(bytes);
      return;
    }
    this.rest.push(bytes.subarray(0, end));
    const lines = this.rest.length === 1 ? this.rest[0] : joined(this.rest);
    this.rest = end < bytes.length ? [bytes.subarray(end)] : [];
    const text = this.decoder.decode(textBytes(lines));
    try {
      for (let start = 0; start < text.length;) {
        const stop = text.indexOf('\n', start);
        if (stop > start) this.events.push(JSON.parse(text.slice(start, stop)));
        start = stop + 1;
      }
    } catch (error) {
      this.failure = error;
    }
  }

  // The events of the whole lines read; throws what made a line unreadable.
  read() {
    if (this.failure) throw this.failure;
    return this.events;
  }
}

function joined(parts) {
  const all = new Uint8Array(parts.reduce((length, part) => length + part.length, 0));
  let at = 0;
  for (const part of parts) {
    all.set(part, at);
    at += part.length;
  }
  return all;
}

// A list of `entry`s, newest first, that shares `older`: {entry, older, length}.
function push(older, entry) {
  return {entry, older, length: (older ? older.length : 0) + 1};
}

// At most `count` entries of `list`, newest first.
export function newest(list, count) {
  const entries = [];
  for (let node = list; node && !node.leftOut && entries.length < count; node = node.older) entries.push(node.entry);
  return entries;
}

export function lengthOf(list) {
  return list ? list.length : 0;
}

// The last `count` characters of the output `list` (of texts, newest first),
// and how many come before them.
export function endOf(list, count) {
  const parts = [];
  let taken = 0;
  for (let node = list; node && taken < count; node = node.older) {
    parts.push(node.entry);
    taken += node.entry.length;
  }
  const text = parts.length === 1 ? parts[0] : parts.reverse().join('');
  const total = list ? list.characters : 0;
  return {text: text.slice(Math.max(0, text.length - count)), before: Math.max(0, total - count)};
}

function emptyState() {
  return {bindings: null, waiting: null, output: null, found: null, place: null, gap: false, call: null, callee: null};
}

// The forms waiting have ever deeper depths from the oldest to the newest, so
// those at `depth` or deeper are all at the top.
function popDeeper(waiting, depth) {
  while (waiting && waiting.entry.depth > depth) waiting = waiting.older;
  return waiting;
}

// The entries a snapshot leaves out, oldest of a list: only counted. Waiting
// forms left out are shallower than those it tells, and go together.
function leftOut(length, depth) {
  return length > 0 ? {entry: {depth}, older: null, length, leftOut: true} : null;
}

// The stacks as a snapshot after left-out events tells them, newest first.
function fromSnapshot(state, event, index) {
  state.bindings = leftOut(event.bindingsLeftOut, 0);
  event.bindings.slice().reverse().forEach((binding, i) => {
    state.bindings = push(state.bindings, {name: binding.name, value: binding.value, by: binding.by,
      position: binding.binding, group: `${index}.${i}`});
  });
  const oldest = event.waiting.length ? event.waiting[event.waiting.length - 1].depth : Infinity;
  state.waiting = leftOut(event.waitingLeftOut, oldest - 1);
  for (const waiting of event.waiting.slice().reverse()) {
    state.waiting = push(state.waiting, {depth: waiting.depth, form: waiting.form});
  }
}

// One event's change to the state; `index` is the event's. `lambdas` gives
// the place of each procedure's text where it was evaluated.
function advance(state, event, index, lambdas) {
  state.found = null;
  // One call binds its parameters in a row: the bindings a run of binds by
  // the same form makes are one group, and the next run, even by the same
  // form's text in another call, is another.
  const call = state.call;
  state.call = null;
  switch (event.event) {
    case 'eval':
      state.waiting = popDeeper(state.waiting, event.depth);
      if (event.at) state.place = event.at;
      break;
    case 'wait':
      state.waiting = push(popDeeper(state.waiting, event.depth - 1), {depth: event.depth, form: event.form});
      break;
    case 'value':
      state.waiting = popDeeper(state.waiting, event.depth - 1);
      break;
    case 'bind':
      state.call = call && call.by === event.by ? call : {by: event.by, group: index};
      state.bindings = push(state.bindings, {name: event.name, value: event.value, by: event.by, position: event.binding,
        group: state.call.group});
      if (event.at) state.place = event.at;
      break;
    case 'unbind':
      for (let i = 0; i < event.count && state.bindings; ++i) {
        const node = state.bindings;
        state.bindings = node.leftOut ? leftOut(node.length - 1, 0) : node.older;
      }
      break;
    case 'lookup':
      state.found = event.binding;
      // A procedure looked up to be called: its body is what is evaluated
      // next, where a name alone has no place of its own in the trace.
      if (lambdas.has(event.value)) state.callee = lambdas.get(event.value);
      break;
    case 'cond':
    case 'explanation':
      if (event.at) state.place = event.at;
      break;
    case 'output': {
      const characters = (state.output ? state.output.characters : 0) + event.text.length;
      state.output = {...push(state.output, event.text), characters};
      break;
    }
    case 'skipped':
      state.gap = true;
      break;
    case 'snapshot':
      fromSnapshot(state, event, index);
      break;
  }
}

export class Recording {
  constructor(events) {
    this.events = events;
    this.checkpoints = [];
    this.lambdas = new Map();
    for (const event of events) {
      if (event.event === 'eval' && event.at && event.form.startsWith('(lambda ')) this.lambdas.set(event.form, event.at);
    }
    const state = emptyState();
    for (let i = 0; i < events.length; ++i) {
      if (i % checkpointEvery === 0) this.checkpoints.push({...state});
      advance(state, events[i], i, this.lambdas);
    }
  }

  get length() {
    return this.events.length;
  }

  // The state after the event at `index`.
  stateAt(index) {
    const checkpoint = Math.floor(index / checkpointEvery);
    const state = {...this.checkpoints[checkpoint]};
    for (let i = checkpoint * checkpointEvery; i <= index; ++i) advance(state, this.events[i], i, this.lambdas);
    return state;
  }
}

// What an event is, in a few words, and the text of the form it is about.
export function describe(event) {
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
    case 'skipped': return [`${event.count} events left out here`, ''];
    case 'snapshot':
      return [`After the events left out: ${event.bindings.length + event.bindingsLeftOut} bindings and ` +
        `${event.waiting.length + event.waitingLeftOut} forms waiting, as they stand here`, ''];
    case 'error': return [event.line, event.line];
    case 'explanation':
    case 'note': return [event.text, event.form || ''];
    case 'end': return [`The run ends with status ${event.status}`, ''];
  }
  return [event.event, ''];
}
