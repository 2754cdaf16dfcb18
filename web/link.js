// Share links: #program=TEXT, the program's text percent-encoded, and
// &step=N when the link opens the Step view at step N (from 1). The encoded
// text holds no "&", so the two never mix.
const prefix = '#program=';
const stepMark = '&step=';

export function linkTo(text, step = null) {
  return prefix + encodeURIComponent(text) + (step ? stepMark + step : '');
}

// The link in `hash`: null when it is none, {malformed: true} when its text
// cannot be decoded, else {text, step} with step null or a whole number ≥ 1.
export function readLink(hash) {
  if (!hash.startsWith(prefix)) return null;
  const [encoded, step] = hash.slice(prefix.length).split(stepMark);
  try {
    const number = Number(step);
    return {text: decodeURIComponent(encoded), step: Number.isInteger(number) && number >= 1 ? number : null};
  } catch {
    return {malformed: true};
  }
}
