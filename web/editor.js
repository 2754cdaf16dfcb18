// The program's editor: CodeMirror with lisp(), the page's theme, the
// stretch the reader never reads shown dimmed, and the forms an explanation of
// the last run names marked.
import {Annotation, EditorState, Prec, StateEffect, StateField, Transaction} from '@codemirror/state';
import {Decoration, EditorView, drawSelection, keymap, lineNumbers} from '@codemirror/view';
import {defaultKeymap, history, historyKeymap, indentWithTab, undoDepth} from '@codemirror/commands';
import {lisp} from './lisp.js';

// Marks the transactions that put a whole new program in (an example, a link),
// which do not count as editing it.
const loaded = Annotation.define();

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

// The forms the last run's explanation names. They were its forms: the next
// edit takes them away, whatever it changes.
const setFailed = StateEffect.define();
const failedMark = Decoration.mark({class: 'cm-fail'});
const failed = StateField.define({
  create: () => Decoration.none,
  update(marks, transaction) {
    if (transaction.docChanged) marks = Decoration.none;
    for (const effect of transaction.effects) {
      if (effect.is(setFailed)) {
        marks = Decoration.set(effect.value.filter(({from, to}) => from < to && to <= transaction.state.doc.length)
          .map(({from, to}) => failedMark.range(from, to)), true);
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
  '.cm-fail': {backgroundColor: 'var(--error-bg)', textDecoration: 'underline var(--error)'},
  '&.cm-focused > .cm-scroller > .cm-selectionLayer .cm-selectionBackground, .cm-selectionBackground':
    {backgroundColor: 'var(--selection)'},
});

// An editor in `host`. onEdit(text) follows each change the user makes,
// onChange(update) every change of the text; onRun is Ctrl+Enter.
export function createEditor(host, {onRun, onEdit, onChange}) {
  const listener = EditorView.updateListener.of((update) => {
    if (!update.docChanged) return;
    if (!update.transactions.some((transaction) => transaction.annotation(loaded))) {
      onEdit(update.state.doc.toString());
    }
    onChange(update);
  });
  // CodeMirror puts its styles in a style sheet it makes at run time, which
  // the page's Content-Security-Policy forbids in the document itself; inside
  // a shadow root it uses a constructed sheet, which the policy allows.
  const view = new EditorView({
    root: host.attachShadow({mode: 'open'}),
    parent: host.shadowRoot,
    state: EditorState.create({
      extensions: [
        Prec.highest(keymap.of([{key: 'Mod-Enter', run: () => { onRun(); return true; }}])),
        lineNumbers(),
        // Long lines wrap: no sideways scrolling, which the keyboard cannot reach, on a phone.
        EditorView.lineWrapping,
        drawSelection(),
        history(),
        // Before lisp(): a mark of an earlier extension wraps the later ones',
        // so a form on one line is one element, not one for each bracket.
        failed,
        lisp(),
        unread,
        keymap.of([...defaultKeymap, ...historyKeymap, indentWithTab]),
        EditorView.contentAttributes.of({'aria-label': 'Program', autocapitalize: 'off', autocorrect: 'off'}),
        listener,
        theme,
      ],
    }),
  });
  return {
    view,
    text: () => view.state.doc.toString(),
    canUndo: () => undoDepth(view.state) > 0,
    // Puts a whole program in as one step that Undo takes back, or not.
    load(text, {undoable = true} = {}) {
      view.dispatch({
        changes: {from: 0, to: view.state.doc.length, insert: text},
        annotations: [loaded.of(true), ...(undoable ? [] : [Transaction.addToHistory.of(false)])],
      });
    },
    // Dims {from, to}, or nothing when null.
    dimUnread(range) {
      view.dispatch({effects: setUnread.of(range)});
    },
    // Marks the stretches [{from, to}] as the forms a run failed in, or
    // takes the marks away when there are none.
    markFailed(ranges) {
      view.dispatch({effects: setFailed.of(ranges)});
    },
  };
}
