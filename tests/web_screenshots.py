#!/usr/bin/env python3
"""Renders the README's pictures of the playground from the built page in
headless Chromium (web.py's Site), so that they are remade whenever the page
changes (make screenshots):

  playground.png  the Run view at 1280 px after examples/table.scm
  step.png        the Step view at the lookup of x in examples/dynamic.scm
  narrow.png      the page at 390 px, as on a phone, after examples/square.scm

Each picture is checked for what it must show before it is saved.

Usage: web_screenshots.py SITE FOLDER --chromium PATH --chromedriver PATH
"""

import argparse
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).parent))
import web  # noqa: E402
import web_step  # noqa: E402


def save(site, folder, name, width, height):
    site.driver.set_window_size(width, height)
    site.driver.execute_script("window.scrollTo(0, 0)")
    path = folder / name
    site.driver.save_screenshot(str(path))
    print(f"{path}: {width}×{height}")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("site", type=pathlib.Path)
    parser.add_argument("folder", type=pathlib.Path)
    parser.add_argument("--chromium", required=True)
    parser.add_argument("--chromedriver", required=True)
    arguments = parser.parse_args()
    site = web.Site(arguments.site, arguments.chromium, arguments.chromedriver)

    def run_view(problems):
        site.driver.set_window_size(1280, 860)
        site.open()
        output, status = site.result(site.choose("table"))
        if status != "0" or "Out:" not in output:
            problems.append(f"playground.png: examples/table.scm gave {status!r}")
            return
        save(site, arguments.folder, "playground.png", 1280, 860)

    def step_view(problems):
        site.driver.set_window_size(1280, 860)
        web_step.check_dynamic(site, problems)
        if problems:
            return
        # check_dynamic ends at the lookup, the found and the hidden x marked.
        site.driver.set_window_size(1280, 1100)
        site.driver.execute_script("document.getElementById('step-view').scrollIntoView({block: 'start'});"
                                   "window.scrollBy(0, -12)")
        path = arguments.folder / "step.png"
        site.driver.save_screenshot(str(path))
        print(f"{path}: 1280×1100, at {site.text('step-event')!r}")

    def narrow(problems):
        site.driver.set_window_size(390, 844)
        site.open()
        output, status = site.result(site.choose("square"))
        if status != "0":
            problems.append(f"narrow.png: examples/square.scm gave {status!r}")
            return
        save(site, arguments.folder, "narrow.png", 390, 844)

    web.drive(site, [run_view, step_view, narrow])


if __name__ == "__main__":
    main()
