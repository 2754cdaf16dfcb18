// The editor's text kept in this browser (localStorage), so that work
// survives a reload, a closed tab and a share link opened over it.
//
// Kept text is only ever replaced by the user's own editing (or a choice they
// make): the page keeps the editor's text 300 ms after the last change, at
// once when the page is hidden or left, and not at all while another tab's
// change waits for the user to choose between the two.
const storageKey = 'vellumark.program';

export class Kept {
  // say(words) tells how keeping went; changedElsewhere(text) is called when
  // another tab keeps `text`.
  constructor({say, changedElsewhere}) {
    this.say = say;
    this.timer = 0;
    this.pending = null; // a function giving the text to keep, while a keep waits
    this.held = false;
    window.addEventListener('storage', (event) => {
      if (event.key === storageKey && event.storageArea === localStorage && event.newValue !== null) {
        changedElsewhere(event.newValue);
      }
    });
    // A reload or a closed tab within the 300 ms keeps the last keys too.
    window.addEventListener('pagehide', () => this.flush());
    document.addEventListener('visibilitychange', () => {
      if (document.visibilityState === 'hidden') this.flush();
    });
  }

  text() {
    try {
      return localStorage.getItem(storageKey);
    } catch {
      return null;
    }
  }

  // Keeps what text() gives, soon.
  keep(text) {
    clearTimeout(this.timer);
    this.pending = text;
    this.timer = setTimeout(() => this.flush(), 300);
  }

  // Until release(), nothing is kept: the user is choosing between this tab's
  // text and another's.
  hold() {
    this.held = true;
    clearTimeout(this.timer);
  }

  release() {
    this.held = false;
    this.pending = null;
  }

  flush() {
    clearTimeout(this.timer);
    if (this.pending === null || this.held) return;
    const text = this.pending();
    this.pending = null;
    this.write(text);
  }

  write(text) {
    try {
      localStorage.setItem(storageKey, text);
      this.say('Your text is kept in this browser.');
    } catch (error) {
      this.say(error.name !== 'QuotaExceededError' ? 'Your text is not kept: this browser does not let the page store it.'
        : this.othersStored() ? 'Your text is not kept: this browser\'s storage for the page is full (it holds other data too).'
          : 'Your text is too long to be kept in this browser.');
    }
  }

  // Whether anything but the kept text takes room in the page's storage.
  othersStored() {
    try {
      for (let i = 0; i < localStorage.length; ++i) if (localStorage.key(i) !== storageKey) return true;
    } catch {
      // nothing to tell
    }
    return false;
  }
}

// The kept text on the page: `editor` (editor.js), loadKept(text) puts a kept
// text in it, say(words) tells the user. The kept text is the user's: a link's
// program shown in the editor replaces it only once the user edits that
// program, and another tab's change waits for the user to choose.
export function workKept(editor, loadKept, say) {
  const $ = (id) => document.getElementById(id);
  const restoreButton = $('kept-restore');
  const theirsButton = $('kept-theirs');
  const mineButton = $('kept-mine');
  // Whether the editor shows a program that is not the kept text and not yet
  // edited (a link's).
  let showingLink = false;
  const dropLink = () => history.replaceState(null, '', location.pathname + location.search);

  // A link's program is in the editor: says whether the kept text differs.
  function linkShown(text) {
    const previous = kept.text();
    showingLink = true;
    restoreButton.hidden = previous === null || previous === text;
    say(restoreButton.hidden ? ''
      : 'The link\'s program is in the editor; your kept text stays as it was until you edit this one.');
  }

  const kept = new Kept({
    say,
    changedElsewhere(text) {
      if (showingLink) {
        linkShown(editor.text());
      } else if (text !== editor.text()) {
        kept.hold();
        theirsButton.hidden = mineButton.hidden = false;
        say('Another tab kept a different text. Which one is to be kept?');
      }
    },
  });

  restoreButton.addEventListener('click', () => {
    const previous = kept.text();
    if (previous !== null) loadKept(previous);
    showingLink = false;
    restoreButton.hidden = true;
    // A reload now brings back the kept text, not the link's program.
    dropLink();
    say('Your text is kept in this browser.');
  });
  const chosen = () => {
    kept.release();
    theirsButton.hidden = mineButton.hidden = true;
    kept.write(editor.text());
  };
  theirsButton.addEventListener('click', () => {
    const theirs = kept.text();
    if (theirs !== null) loadKept(theirs);
    chosen();
  });
  mineButton.addEventListener('click', chosen);

  return {
    text: () => kept.text(),
    linkShown,
    // The user changed the editor's text: keeps it.
    keepEdits() {
      if (showingLink) {
        showingLink = false;
        restoreButton.hidden = true;
        // A reload now brings back these edits, not the link's program.
        dropLink();
      }
      kept.keep(editor.text);
    },
  };
}
