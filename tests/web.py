#!/usr/bin/env python3
"""Drives the browser playground in headless Chromium and compares it with the
command line. The site is served on 127.0.0.1 with the page's own
Content-Security-Policy sent as a header on every file, so that the worker and
its WebAssembly run under it too. Needs chromium, chromium-driver and
python3-selenium.

  page  each example, chosen from the menu, against NAME.out and NAME.status;
        #program= links and typed programs (Ctrl+Enter, Share) against what
        INTERPRETER writes for the same bytes; markup printed as text; Stop;
        why a run printed nothing, in the words vellumark-trace (beside
        INTERPRETER) uses for the same bytes; why a run of a newcomer's
        mistake failed or surprised, in vellumark-trace's words, with the form
        it names marked in the editor until the next edit; the list of what is
        not in the language, above the editor, against doc/not-in-language.md
  deep  large.py's million nested calls, million-element list and recursion
        without end, which must end within 10 seconds; prints each one's time

Usage: web.py SITE INTERPRETER {page|deep} --chromium PATH --chromedriver PATH [--screenshot PNG]
(CMake finds the two programs and passes their paths.)
"""

import argparse
import functools
import http.server
import json
import os
import pathlib
import re
import sys
import tempfile
import threading
import time
import urllib.parse

from selenium import webdriver
from selenium.common.exceptions import NoAlertPresentException, TimeoutException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.select import Select
from selenium.webdriver.support.wait import WebDriverWait

sys.path.insert(0, str(pathlib.Path(__file__).parent))
import harness  # noqa: E402
import large  # noqa: E402
from examples import expected_status  # noqa: E402

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "examples"
FLAGS = ("--headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking"
         " --disable-component-update --disable-sync --disable-dev-shm-usage --window-size=1280,860").split()

# Would run for hours at a depth of 40: each level calls the one below twice
# (cond evaluates the first test, which is not #t, and then the else).
ENDLESS = "(begin (define p0 (lambda () 0)) " + " ".join(
    f"(define p{k} (lambda () (cond ((p{k - 1}) 0) (else (p{k - 1})))))" for k in range(1, 41)) + " (p40))\n"
LINKED = ["(list (quote (café ünï ✓ 𝄞 a%b x#y&z=1?))\n      (quote (a  b))\t(+ 1 2))\n",
          "(quote x)",  # no line end after it, so nothing after the banner
          "(quote (a b))\r\n"]
MARKUP = ["(print <img src=x onerror=alert(1)>)\n",
          "(begin (print (quote <img/src/onerror=alert)) (print (list 1)) (print (quote >)))\n"]
# The characters the output pane shows at most (shownLimit in web/playground.js).
SHOWN_LIMIT = 1 << 18
TYPED = "(begin\n  (define größe (quote (ñ 1)))\n  (list größe (quote (x . y))))\n"


def link(text):
    """The #program= fragment, encoded as encodeURIComponent does."""
    return "#program=" + urllib.parse.quote(text, safe="!~*'()")


def command_line(interpreter, text):
    done = harness.run([interpreter], text.encode(), 60)
    return done.stdout.decode("utf-8", "replace"), str(done.returncode)


def recorded(example):
    return example.with_suffix(".out").read_text(encoding="utf-8"), str(expected_status(example))


def serve(folder):
    """Serves `folder` on 127.0.0.1 with its page's Content-Security-Policy as
    a header on every file: (server, address of its index.html)."""
    policy = re.search(r'"Content-Security-Policy" content="([^"]+)"', (folder / "index.html").read_text()).group(1)

    class Handler(http.server.SimpleHTTPRequestHandler):
        def end_headers(self):
            self.send_header("Content-Security-Policy", policy)
            super().end_headers()

        def log_message(self, *arguments):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Handler, directory=folder))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, f"http://127.0.0.1:{server.server_port}/index.html"


class Site:
    """The folder on a local HTTP server, seen by a fresh headless Chromium."""

    def __init__(self, folder, chromium, chromedriver):
        self.server, self.address = serve(folder)
        self.profile = tempfile.TemporaryDirectory()
        options = webdriver.ChromeOptions()
        options.binary_location = chromium
        for flag in FLAGS + [f"--user-data-dir={self.profile.name}"]:
            options.add_argument(flag)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        self.driver = webdriver.Chrome(service=Service(chromedriver), options=options)

    def close(self):
        self.driver.quit()
        self.server.shutdown()
        self.profile.cleanup()

    def cpu_seconds(self):
        """Processor time used so far by the browser's processes, which all
        carry its profile folder on their command line."""
        ticks = 0
        for stat in pathlib.Path("/proc").glob("[0-9]*/stat"):
            try:
                if self.profile.name.encode() in (stat.parent / "cmdline").read_bytes():
                    ticks += sum(map(int, stat.read_text().rsplit(")", 1)[1].split()[11:13]))  # user, system
            except OSError:
                pass  # ended meanwhile
        return ticks / os.sysconf("SC_CLK_TCK")

    def text(self, element_id):
        return self.driver.execute_script(f"return document.getElementById('{element_id}').textContent")

    def click(self, element_id):
        return self.driver.find_element(By.ID, element_id).click

    def choose(self, name):
        return lambda: Select(self.driver.find_element(By.ID, "examples")).select_by_value(name)

    def open(self, fragment=""):
        self.driver.get("about:blank")
        self.driver.get(self.address + fragment)

    def result(self, start, seconds=60):
        """Calls start() and waits for the run it starts: (output, status or how it ended)."""
        self.driver.execute_script("document.getElementById('status').textContent = ''")
        start()
        try:
            WebDriverWait(self.driver, seconds, poll_frequency=0.05).until(
                lambda _: self.text("status") or self.text("state").startswith(("The interpreter", "Stopped")))
        except TimeoutException:
            return self.text("output"), f"no status within {seconds} s ({self.text('state')})"
        return self.text("output"), self.text("status") or self.text("state")


def editor_text(driver):
    return driver.execute_script("return playgroundEditor.state.doc.toString()")


def type_program(driver, text):
    """Replaces the editor's text by typing `text` into it, key by key."""
    driver.execute_script("playgroundEditor.focus()")
    ActionChains(driver).key_down(Keys.CONTROL).send_keys("a").key_up(Keys.CONTROL).send_keys(Keys.DELETE) \
        .send_keys(text).perform()


def compare(problems, what, got, expected):
    """Adds to `problems` how the page's (output, status) differs from the expected pair, as the harness shows it."""
    if got[1] != expected[1]:
        problems.append(f"{what}: status {got[1]!r}, expected {expected[1]!r}")
    if got[0] != expected[0]:
        first, *rest = harness.first_difference(got[0].encode(), expected[0].encode())
        problems.append("\n".join([f"{what}: {first}", *rest]))


def check_page(site, interpreter, problems):
    # All examples on one page: a run that leaked into the next would show
    # (rebind redefines car, which later examples use).
    site.open()
    for example in sorted(EXAMPLES.glob("*.scm")):
        compare(problems, f"example {example.stem}", site.result(site.choose(example.stem)), recorded(example))

    for program in LINKED + MARKUP:
        what = f"link to {program!r}"
        compare(problems, what, site.result(lambda: site.open(link(program))), command_line(interpreter, program))
        # The editor shows the program, with LF line ends.
        if editor_text(site.driver) != program.replace("\r\n", "\n"):
            problems.append(f"{what}: the editor holds something else")
        if site.driver.find_element(By.ID, "share").get_attribute("href") != site.address + link(program):
            problems.append(f"{what}: the Share link differs")
        if site.driver.execute_script("return document.querySelectorAll('img, #output *').length"):
            problems.append(f"{what}: its text became markup")
        try:
            site.driver.switch_to.alert.dismiss()
            problems.append(f"{what}: a script from it ran")
        except NoAlertPresentException:
            pass

    type_program(site.driver, TYPED)
    expected = command_line(interpreter, TYPED)
    ctrl_enter = ActionChains(site.driver).key_down(Keys.CONTROL).send_keys(Keys.ENTER).key_up(Keys.CONTROL)
    compare(problems, "typed, Ctrl+Enter", site.result(ctrl_enter.perform), expected)
    compare(problems, "typed, Share link", site.result(site.click("share")), expected)
    compare(problems, "typed, Share link reloaded", site.result(site.driver.refresh), expected)
    # Enter indents each new line, so the text is what the editor made of it.
    if site.driver.current_url != site.address + link(editor_text(site.driver)):
        problems.append(f"the Share link of a typed program led to {site.driver.current_url!r}")

    site.open(link(ENDLESS))
    time.sleep(1.5)
    if site.text("status") or site.text("state") != "Running…":
        problems.append(f"an endless program ended by itself: {site.text('state')!r}")
    output, state = site.result(site.click("stop"), seconds=5)
    if state != "Stopped." or not output.startswith("Vellumark\n\nIn:   (begin (define p0 ") or "Out:" in output:
        problems.append(f"Stop: {state!r}, output {output[:60]!r}")
    time.sleep(3)  # Chromium gives a busy worker two seconds before it ends it by force.
    before = site.cpu_seconds()
    time.sleep(1)
    if site.cpu_seconds() - before > 0.25:
        problems.append(f"after Stop the browser still used {site.cpu_seconds() - before:.2f} s of processor time in 1 s")
    compare(problems, "a run after Stop", site.result(site.choose("square")), recorded(EXAMPLES / "square.scm"))


def check_silent(site, interpreter, problems):
    """The page's sentence for a run that printed nothing is the trace's note,
    its marks filled by the page from the reader's verdict."""
    trace = pathlib.Path(interpreter).with_name("vellumark-trace")
    for program in ("(quote x)", "(list (+ 1\n  (* 2", "\n  (quote\n(x", " \n\t"):
        done = harness.run([str(trace), "--json"], program.encode(), 60)
        notes = [json.loads(line)["text"] for line in done.stdout.decode().splitlines() if '"event":"note"' in line]
        site.result(lambda: site.open(link(program)))
        expected = "Nothing was printed after the banner. " + (notes[0] if notes else "(no note in the trace)")
        try:
            WebDriverWait(site.driver, 10, poll_frequency=0.05).until(lambda _: site.text("why") == expected)
        except TimeoutException:
            problems.append(f"nothing printed for {program!r}: the page says {site.text('why')!r}, the trace"
                            f" {notes!r}")


# Newcomers' mistakes, each with the form the page must mark: a wrong operand,
# a misspelt name, another Lisp's if (a note of a run that ended well), the
# factorial with (- n 1) over several lines, a wrong operand after a character
# of two bytes, a missing parenthesis (a run that printed nothing), a let that
# fails after notes, a recursion without end (which the page explains from
# its first levels), and a run with nothing to say.
MISTAKES = [("(car 1)\n", ["(car 1)"]),
            ("(begin (define total 5) (+ totl 1))\n", ["(+ totl 1)"]),
            ("(if (< 1 2) 1 2)\n", ["(if (< 1 2) 1 2)"]),
            ("(begin\n  (define fact (lambda (n)\n    (cond ((< n 1) 1)\n          (#t (* n (fact (- n 1)))))))\n"
             "  (fact 5))\n", ["(< n 1)"]),
            ("(list (quote é) (car 1))\n", ["(car 1)"]),
            ("(+ 1 (* 2\n  3)\n", ["(+ 1 (* 2\n  3)"]),
            ("(begin (cond ((< 2 1) 0) ((quote t) 1)) (let ((x 1)) x))\n", ["(let ((x 1)) x)"]),
            ("(begin (define f (lambda (n) (f n))) (f 1))\n", ["(f n)"]),
            ("(+ 1 2)\n", [])]

# The stretches of the editor's text under a mark whose class names a failure,
# those split only by a line end joined.
MARKED = """
const view = playgroundEditor;
const spans = [...view.contentDOM.querySelectorAll('[class*="fail"]')]
  .map((node) => [view.posAtDOM(node, 0), view.posAtDOM(node, 0) + node.textContent.length])
  .sort((a, b) => a[0] - b[0]);
const joined = [];
for (const [from, to] of spans) {
  const last = joined[joined.length - 1];
  if (last && from <= last[1] + 1) last[1] = Math.max(last[1], to); else joined.push([from, to]);
}
return joined.map(([from, to]) => view.state.doc.sliceString(from, to));
"""


def told(trace, program):
    """What vellumark-trace says of `program`: the explanation first, then the
    notes, as the page says them."""
    done = harness.run([str(trace), "--json"], program.encode(), 60)
    events = [json.loads(line) for line in done.stdout.decode().splitlines()]
    said = ([event for event in events if event["event"] == "explanation"]
            + [event for event in events if event["event"] == "note"])
    return [event["text"] for event in said]


def check_why(site, interpreter, problems):
    """A run that fails or surprises is explained under the output in the
    trace's words, its form marked in the editor; an edit takes the mark away."""
    trace = pathlib.Path(interpreter).with_name("vellumark-trace")
    site.open()
    for program, forms in MISTAKES:
        expected = told(trace, program)
        if not expected and forms:
            problems.append(f"{program!r}: vellumark-trace explains nothing")
        site.result(lambda: site.open(link(program)))

        def said():
            return site.driver.execute_script("return [...document.querySelectorAll('#why p')].map((p) => p.textContent)")
        try:
            WebDriverWait(site.driver, 10, poll_frequency=0.05).until(
                lambda _: said() and site.driver.execute_script(MARKED) == forms)
        except TimeoutException:
            pass
        if not forms:
            time.sleep(3)  # the explaining run's whole budget: it must still say nothing
        got = said()
        # A run that printed nothing is explained from the reader, with the
        # words of the trace's note.
        if got != expected and got != [f"Nothing was printed after the banner. {text}" for text in expected]:
            problems.append(f"{program!r}: #why says {got!r}, vellumark-trace {expected!r}")
        marked = site.driver.execute_script(MARKED)
        if marked != forms:
            problems.append(f"{program!r}: the editor marks {marked!r}, not {forms!r}")
        if forms:
            site.driver.execute_script("playgroundEditor.focus()")
            ActionChains(site.driver).send_keys(Keys.END, " ").perform()
            if site.driver.execute_script(MARKED):
                problems.append(f"{program!r}: an edit left the mark {site.driver.execute_script(MARKED)!r}")


def markdown_text(markdown):
    return re.sub(r"\*\*|`", "", markdown)


def check_missing(site, problems):
    """The list of what is not in the language is the README's box, from the
    same file, and is seen above the editor without a click."""
    lines = (EXAMPLES.parent / "doc" / "not-in-language.md").read_text().splitlines()
    items = []
    for line in lines:
        if line.startswith("- "):
            items.append(line[2:])
        elif line.startswith(" ") and items:
            items[-1] += " " + line.strip()
    site.open()
    shown = site.driver.execute_script("""
      const list = document.getElementById('not-in-language');
      const box = list && list.getBoundingClientRect();
      return list && {open: list.open, items: [...list.querySelectorAll('li')].map((item) => item.textContent),
                      above: box.bottom <= document.getElementById('program').getBoundingClientRect().top,
                      height: [...list.querySelectorAll('li')].every((item) => item.offsetHeight > 0)};""")
    if not shown:
        problems.append("the page has no #not-in-language")
    elif shown["items"] != [markdown_text(item) for item in items] or len(items) < 10:
        problems.append(f"#not-in-language holds {shown['items']!r}, doc/not-in-language.md {items!r}")
    elif not (shown["open"] and shown["above"] and shown["height"]):
        problems.append(f"#not-in-language is not shown open above the editor: {shown!r}")


def check_deep(site, problems):
    site.open()
    for case in (large.a_million_nested_calls, large.append_two_long_lists, large.recursion_without_end):
        source, expected, status = case()
        started = time.monotonic()
        got = site.result(lambda: site.driver.execute_script(
            "playgroundEditor.dispatch({changes: {from: 0, to: playgroundEditor.state.doc.length, insert: arguments[0]}});"
            "document.getElementById('run').click();", source + "\n"), seconds=120)
        elapsed = time.monotonic() - started
        print(f"{case.__name__}: shown after {elapsed:.2f} s; the page says {site.text('state')!r}")
        expected = harness.BANNER.decode() + expected
        if len(expected) > SHOWN_LIMIT:
            # The pane shows the beginning and the end, and says that it cut the middle.
            expected = expected[:1000] + expected[-1000:]
            got = (got[0][:1000] + got[0][-1000:], got[1])
            if "The output was cut" not in site.text("why"):
                problems.append(f"{case.__name__}: no note that the output was cut ({site.text('why')!r})")
        compare(problems, case.__name__, got, (expected, str(status)))
        if case is large.recursion_without_end and elapsed > 10:
            problems.append(f"{case.__name__}: ended after {elapsed:.1f} s, more than 10")


def check_floods(site, problems):
    """Output in many short lines leaves Stop working at once; a program too long
    for a link says so."""
    site.open()
    flood = "(begin (define f (lambda () (begin (print 1) (newline) (f)))) (f))\n"
    site.driver.execute_script(
        "playgroundEditor.dispatch({changes: {from: 0, to: playgroundEditor.state.doc.length, insert: arguments[0]}});"
        "document.getElementById('run').click();", flood)
    time.sleep(3)
    # Stop answers as soon as the page is free to take the click.
    started = time.monotonic()
    site.driver.execute_script("document.getElementById('stop').click()")
    elapsed = time.monotonic() - started
    print(f"Stop under a flood of short lines: {elapsed:.2f} s, the page says {site.text('state')!r}")
    if site.text("state") != "Stopped." or elapsed > 0.5:
        problems.append(f"Stop under a flood of short lines: {site.text('state')!r} after {elapsed:.2f} s")
    site.driver.execute_script(
        "playgroundEditor.dispatch({changes: {from: 0, to: playgroundEditor.state.doc.length, insert: arguments[0]}});",
        "(quote (" + "a%b " * 600_000 + "))\n")
    if site.driver.find_element(By.ID, "share").text != "Too long to share as a link":
        problems.append("a program too long for a link still offers one")


def drive(site, checks):
    """Runs `checks`, each a function of the list of problems, on `site`; adds
    the errors on the browser's console, closes the browser, prints the tally
    and exits with 1 when anything failed."""
    problems = []
    try:
        for check in checks:
            check(problems)
        problems += [f"browser console: {entry['message']}" for entry in site.driver.get_log("browser")
                     if entry["level"] == "SEVERE"]
    finally:
        site.close()
    for problem in problems:
        print(f"FAIL {problem}")
    print(f"{0 if problems else 1} passed, {1 if problems else 0} failed")
    sys.exit(1 if problems else 0)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("site", type=pathlib.Path)
    parser.add_argument("interpreter")
    parser.add_argument("group", choices=("page", "deep"))
    parser.add_argument("--chromium", required=True)
    parser.add_argument("--chromedriver", required=True)
    parser.add_argument("--screenshot", type=pathlib.Path, help="save the page after the table example here")
    arguments = parser.parse_args()
    site = Site(arguments.site, arguments.chromium, arguments.chromedriver)

    def screenshot(_):
        if arguments.screenshot:
            site.open()
            site.result(site.choose("table"))
            site.driver.save_screenshot(str(arguments.screenshot))

    if arguments.group == "page":
        checks = [lambda problems: check_page(site, arguments.interpreter, problems),
                  lambda problems: check_silent(site, arguments.interpreter, problems),
                  lambda problems: check_why(site, arguments.interpreter, problems),
                  lambda problems: check_missing(site, problems)]
    else:
        checks = [lambda problems: check_deep(site, problems), lambda problems: check_floods(site, problems)]
    drive(site, checks + [screenshot])


if __name__ == "__main__":
    main()
