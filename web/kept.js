// The editor's text kept in this browser (localStorage), so that work
// survives a reload.
const storageKey = 'vellumark.program';

export function keptText() {
  try {
    return localStorage.getItem(storageKey);
  } catch {
    return null;
  }
}

// Keeps `text` 300 ms after the last call; says how that went through `say`.
export function keeper(say) {
  let timer = 0;
  return (text) => {
    clearTimeout(timer);
    timer = setTimeout(() => {
      try {
        localStorage.setItem(storageKey, text());
        say('Your text is kept in this browser.');
      } catch (error) {
        say(error.name === 'QuotaExceededError'
          ? 'Your text is too long to be kept in this browser.'
          : 'Your text is not kept: this browser does not let the page store it.');
      }
    }, 300);
  };
}
