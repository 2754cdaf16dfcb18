// The Run pane's output: what a run writes, shown as text, in batches, up to
// what the page can lay out, and counted past that.

// The pane shows at most this many characters: laying out text costs time and
// memory in proportion to all of it, some five seconds for 1 MiB on one line
// in Chromium here (23 MB took 26 s and 3.6 GB), so more would hold the page,
// and Stop with it. The rest is counted, not kept.
export const shownLimit = 1 << 18;
// Lines cost more than their characters: a million short lines hold the page
// for seconds. So the pane also shows at most this many lines.
export const linesShown = 20000;

export class OutputPane {
  constructor(pre, why) {
    this.pre = pre;
    this.why = why;
    this.clear();
  }

  // Empties the pane for a new run.
  clear() {
    clearTimeout(this.timer);
    this.pre.textContent = '';
    this.why.textContent = '';
    this.decoder = new TextDecoder();
    this.written = 0; // bytes, shown or not
    // Output arrives a line or a block at a time and is shown in batches, one
    // text node each. Laying out the pane takes time in proportion to all the
    // text it holds, seconds for ten megabytes, so the wait before the next
    // batch is four times what the last one took: the page spends at most a
    // fifth of its time showing output, however much comes.
    this.pending = '';
    this.timer = 0;
    this.wait = 50;
    this.shown = 0; // characters in the pane, and waiting to be
    this.lines = 0;
    this.cut = false;
  }

  write(bytes) {
    this.written += bytes.length;
    // Past what the pane shows, output is only counted.
    if (!this.cut) {
      let text = this.decoder.decode(bytes, {stream: true});
      if (this.shown + text.length > shownLimit) {
        text = text.slice(0, shownLimit - this.shown);
        this.cut = true;
      }
      for (let end = text.indexOf('\n'); end >= 0; end = text.indexOf('\n', end + 1)) {
        if (++this.lines === linesShown) {
          text = text.slice(0, end + 1);
          this.cut = true;
          break;
        }
      }
      this.pending += text;
      this.shown += text.length;
    }
    if (!this.timer) this.timer = setTimeout(() => this.flush(), this.wait);
  }

  // The run wrote all it will (`whole`), or was ended: shows what is left.
  end(whole) {
    if (whole && !this.cut) this.pending += this.decoder.decode();
    this.flush();
    this.noteCut();
  }

  // Shows what is written and not shown yet.
  flush() {
    clearTimeout(this.timer);
    this.timer = 0;
    if (!this.pending) return;
    const started = performance.now();
    // append() with a string adds a text node: output is never markup.
    this.pre.append(this.pending);
    this.noteCut();
    this.pending = '';
    // Reading the height lays the pane out here rather than at the next
    // frame, so that the time that took is known.
    void this.pre.scrollHeight;
    this.wait = Math.max(50, 4 * (performance.now() - started));
  }

  noteCut() {
    if (!this.cut) return;
    this.why.textContent = `The output was cut: the pane shows its first ${shownLimit >> 10} KiB of characters or ` +
      `${linesShown} lines, whichever comes first; the run wrote ${(this.written / (1 << 20)).toFixed(1)} MiB.`;
  }

  // A word on why the run printed what it did, under the output.
  explain(text) {
    this.why.textContent = text;
  }
}
