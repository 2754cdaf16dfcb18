// The Run pane's output: what a run writes, shown as text, in batches. A long
// output shows its beginning and its end, says how much it left out between
// them, and is offered whole, byte for byte, as a download.

// The pane shows at most this many characters: laying out text costs time and
// memory in proportion to all of it, some five seconds for 1 MiB on one line
// in Chromium here (23 MB took 26 s and 3.6 GB), so more would hold the page,
// and Stop with it. Half of it goes to the beginning, half to the end.
export const shownLimit = 1 << 18;
// Lines cost more than their characters: a million short lines hold the page
// for seconds. So the pane also shows at most this many lines, half each end.
export const linesShown = 20000;
// The bytes kept for the download: the page stops a run at this much.
export const keptLimit = 64 << 20;

const encoder = new TextEncoder();
const headLimit = shownLimit >> 1;
const tailLimit = shownLimit >> 1;
const headLines = linesShown >> 1;
const tailLines = linesShown >> 1;

function mebibytes(bytes) {
  return `${(bytes / (1 << 20)).toFixed(1)} MiB`;
}

function amount(bytes) {
  return bytes < 1 << 20 ? `${bytes.toLocaleString('en')} bytes` : mebibytes(bytes);
}

export class OutputPane {
  constructor(pre, why) {
    this.pre = pre;
    this.why = why;
    // The download sits under the note, made here so that the page's markup
    // needs nothing for it.
    this.download = document.createElement('a');
    this.download.id = 'output-download';
    this.download.download = 'output.txt';
    this.download.hidden = true;
    why.after(this.download);
    this.url = '';
    this.clear();
  }

  // Empties the pane for a new run.
  clear() {
    clearTimeout(this.timer);
    this.pre.textContent = '';
    this.why.textContent = '';
    this.download.hidden = true;
    this.download.removeAttribute('href');
    if (this.url) URL.revokeObjectURL(this.url);
    this.url = '';
    this.decoder = new TextDecoder();
    this.written = 0; // bytes, shown or not
    this.kept = []; // the first keptLimit bytes, for the download
    this.keptBytes = 0;
    // Output arrives a line or a block at a time and is shown in batches, one
    // text node each. Laying out the pane takes time in proportion to all the
    // text it holds, seconds for ten megabytes, so the wait before the next
    // batch is four times what the last one took: the page spends at most a
    // fifth of its time showing output, however much comes.
    this.pending = '';
    this.timer = 0;
    this.wait = 50;
    this.shown = 0; // characters of the beginning in the pane, and waiting to be
    this.lines = 0;
    this.cut = false; // the beginning is all shown; what follows is the end's
    this.headBytes = 0; // the bytes the beginning shows
    this.gap = null; // the note between the beginning and the end
    this.tail = null;
    this.tailStale = false;
  }

  write(bytes) {
    this.written += bytes.length;
    if (this.keptBytes < keptLimit) {
      const part = bytes.subarray(0, keptLimit - this.keptBytes);
      this.kept.push(part);
      this.keptBytes += part.length;
    }
    if (!this.cut) {
      let text = this.decoder.decode(bytes, {stream: true});
      if (this.shown + text.length > headLimit) {
        text = text.slice(0, headLimit - this.shown);
        this.cut = true;
      }
      for (let end = text.indexOf('\n'); end >= 0; end = text.indexOf('\n', end + 1)) {
        if (++this.lines === headLines) {
          text = text.slice(0, end + 1);
          this.cut = true;
          break;
        }
      }
      this.pending += text;
      this.shown += text.length;
      // For text that is valid UTF-8 these are exactly the bytes shown.
      this.headBytes = this.cut ? this.headBytes + encoder.encode(text).length : this.written;
    }
    if (this.cut) this.tailStale = true;
    if (!this.timer) this.timer = setTimeout(() => this.flush(), this.wait);
  }

  // The run wrote all it will (`whole`), or was ended: shows what is left,
  // and offers the whole output.
  end(whole) {
    if (whole && !this.cut) this.pending += this.decoder.decode();
    this.flush();
    this.noteCut();
    // A long output's last line (its value or its error) is the one to see.
    if (this.cut) this.pre.scrollTop = this.pre.scrollHeight;
    if (this.written > 0) {
      this.url = URL.createObjectURL(new Blob(this.kept, {type: 'application/octet-stream'}));
      this.download.href = this.url;
      this.download.textContent = this.keptBytes < this.written
        ? `Download the first ${amount(this.keptBytes)} of the output`
        : `Download the whole output (${amount(this.written)})`;
      this.download.hidden = false;
    }
  }

  // Shows what is written and not shown yet: the beginning as it comes, and
  // once it is cut, the end so far in place of the end shown before.
  flush() {
    clearTimeout(this.timer);
    this.timer = 0;
    if (!this.pending && !this.tailStale) return;
    const started = performance.now();
    // append() with a string adds a text node: output is never markup.
    if (this.pending) this.pre.append(this.pending);
    this.pending = '';
    if (this.tailStale) this.showTail();
    this.noteCut();
    // Reading the height lays the pane out here rather than at the next
    // frame, so that the time that took is known.
    void this.pre.scrollHeight;
    this.wait = Math.max(50, 4 * (performance.now() - started));
  }

  // The kept bytes from `from` to the end, as one array.
  keptFrom(from) {
    const block = new Uint8Array(this.keptBytes - from);
    let at = 0;
    let start = 0;
    for (const part of this.kept) {
      const end = start + part.length;
      if (end > from) {
        const piece = part.subarray(Math.max(0, from - start));
        block.set(piece, at);
        at += piece.length;
      }
      start = end;
    }
    return block;
  }

  // The end of the output after the beginning shown: at most tailLimit bytes
  // and tailLines lines, from the start of a character, with a note of what
  // is left out between.
  showTail() {
    this.tailStale = false;
    let from = Math.max(this.headBytes, this.keptBytes - tailLimit);
    let bytes = this.keptFrom(from);
    let skip = 0;
    while (from > this.headBytes && skip < bytes.length && (bytes[skip] & 0xc0) === 0x80) ++skip;
    let lines = 0;
    for (let at = bytes.length - 2; at >= skip; --at) {
      if (bytes[at] === 10 && ++lines === tailLines) {
        skip = at + 1;
        break;
      }
    }
    bytes = bytes.subarray(skip);
    from += skip;
    const leftOut = from - this.headBytes + (this.written - this.keptBytes);
    if (!this.gap) {
      this.gap = document.createElement('span');
      this.gap.className = 'left-out';
      this.tail = document.createTextNode('');
      this.pre.append(this.gap, this.tail);
    }
    this.gap.textContent = leftOut > 0 ? `\n… ${amount(leftOut)} left out here: download the whole output …\n` : '';
    this.tail.data = new TextDecoder().decode(bytes);
  }

  noteCut() {
    if (!this.cut) return;
    this.why.textContent = `The output was cut: the pane shows its beginning and its end, at most ` +
      `${shownLimit >> 10} KiB of characters or ${linesShown} lines; the run wrote ${amount(this.written)}.`;
  }

  // A word on why the run printed what it did, under the output.
  explain(text) {
    this.why.textContent = text;
  }
}
