#!/usr/bin/env python3
"""Times the Step view's recording of large.py's million-call countdown and
recursion without end on one or more built sites (build/web/site of different
commits), in one headless Chromium, the sites taking turns in each round so
that the machine's load falls on all alike. A tool for comparing builds by
hand, not a test: no time is checked, and nothing runs it in the suite.

Each figure is from the press of Step to the view opened and laid out, as the
page measures it (performance.now); "main" is the part of it the page's own
thread was busy in tasks over 50 ms (reading and opening the trace), the rest
being mostly the traced interpreter in its worker.

Usage: web_record_time.py SITE [SITE ...] --chromium PATH --chromedriver PATH [--rounds N]
"""

import argparse
import pathlib
import statistics
import sys
import time

from selenium.webdriver.support.wait import WebDriverWait

sys.path.insert(0, str(pathlib.Path(__file__).parent))
import large  # noqa: E402
import web  # noqa: E402

PROGRAMS = {"countdown": large.a_million_nested_calls, "recursion without end": large.recursion_without_end}

# Presses Step and answers, once the counter says which step is shown and the
# page is laid out: [milliseconds since the press, milliseconds of long tasks
# on the page's thread meanwhile, the counter's text].
RECORD = """
const done = arguments[arguments.length - 1];
const counter = document.getElementById('step-counter');
let busy = 0;
const tasks = new PerformanceObserver((list) => { for (const task of list.getEntries()) busy += task.duration; });
tasks.observe({entryTypes: ['longtask']});
const started = performance.now();
const watch = new MutationObserver(() => {
  if (!counter.textContent.startsWith('step ')) return;
  watch.disconnect();
  void document.body.offsetHeight;
  const took = performance.now() - started;
  // The task that opened the recording is reported once it has ended.
  setTimeout(() => {
    tasks.takeRecords().forEach((task) => { busy += task.duration; });
    tasks.disconnect();
    done([took, busy, counter.textContent]);
  }, 100);
});
watch.observe(counter, {childList: true, characterData: true, subtree: true});
document.getElementById('step').click();
"""


def time_recording(driver, address, program):
    driver.get("about:blank")
    driver.get(address)
    WebDriverWait(driver, 30).until(lambda _: driver.execute_script("return !!window.playgroundEditor"))
    driver.execute_script(
        "playgroundEditor.dispatch({changes: {from: 0, to: playgroundEditor.state.doc.length, insert: arguments[0]}})",
        program)
    time.sleep(2)  # the reader's verdict on the new text, in its own worker, done before the press
    return driver.execute_async_script(RECORD)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("sites", type=pathlib.Path, nargs="+")
    parser.add_argument("--chromium", required=True)
    parser.add_argument("--chromedriver", required=True)
    parser.add_argument("--rounds", type=int, default=3)
    arguments = parser.parse_args()
    site = web.Site(arguments.sites[0], arguments.chromium, arguments.chromedriver)
    servers = [web.serve(folder) for folder in arguments.sites[1:]]
    addresses = [site.address] + [address for _, address in servers]
    site.driver.set_script_timeout(300)
    times = {(what, folder): [] for what in PROGRAMS for folder in arguments.sites}
    try:
        for round_number in range(1, arguments.rounds + 1):
            for what, case in PROGRAMS.items():
                for folder, address in zip(arguments.sites, addresses):
                    took, busy, counter = time_recording(site.driver, address, case()[0] + "\n")
                    times[what, folder].append(took / 1000)
                    print(f"round {round_number}, {what}, {folder}: {took / 1000:.2f} s (main {busy / 1000:.2f} s);"
                          f" {counter}", flush=True)
    finally:
        site.close()
        for server, _ in servers:
            server.shutdown()
    for (what, folder), seconds in times.items():
        print(f"{what}, {folder}: median {statistics.median(seconds):.2f} s of {' '.join(f'{s:.2f}' for s in seconds)}")


if __name__ == "__main__":
    main()
