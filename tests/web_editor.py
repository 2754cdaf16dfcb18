#!/usr/bin/env python3
"""The playground's editor in headless Chromium (web.py's Site): what is typed
runs as a text file, bracket matching, the work kept across a reload, an
example that Undo takes back, kept work never lost (a share link, a
malformed link, a second tab, a reload within the moment before the text is
kept, storage full of other data), a 390-pixel screen, Escape, and the reader's
verdict under the editor against what the interpreter does with every input
of the reader's golden cases.

Usage: web_editor.py SITE INTERPRETER CHROMIUM CHROMEDRIVER
"""

import pathlib
import re
import sys
import time

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.select import Select
from selenium.webdriver.support.wait import WebDriverWait

sys.path.insert(0, str(pathlib.Path(__file__).parent))
import golden  # noqa: E402
import web  # noqa: E402

READER_CASES = sorted((pathlib.Path(__file__).parent / "golden" / "reader").glob("*.case"))
BANNER = "Vellumark\n\n"


def wait_for(driver, condition, seconds=10):
    WebDriverWait(driver, seconds, poll_frequency=0.05).until(lambda _: condition())


def check_editing(site, interpreter, problems):
    driver = site.driver
    site.open()
    web.type_program(driver, "(+ 1 2)")
    got = site.result(site.click("run"))
    if not got[0].endswith("Out:  3\n") or got != web.command_line(interpreter, "(+ 1 2)\n"):
        problems.append(f"typed (+ 1 2) and Run: {got!r}")

    web.type_program(driver, "(a (b))")
    matched = driver.execute_script(
        "return [...playgroundEditor.contentDOM.querySelectorAll('.cm-matchingBracket')]"
        ".map((node) => playgroundEditor.posAtDOM(node)).sort((a, b) => a - b)")
    if matched != [0, 6]:
        problems.append(f"the caret after (a (b)) marks brackets at {matched}, not at 0 and 6")

    time.sleep(1)  # the text is kept a moment after the last key
    driver.refresh()
    wait_for(driver, lambda: site.text("verdict"))
    if web.editor_text(driver) != "(a (b))":
        problems.append(f"after a reload the editor holds {web.editor_text(driver)!r}")

    menu = Select(driver.find_element(By.ID, "examples"))
    square = (web.EXAMPLES / "square.scm").read_text()
    site.result(site.choose("square"))
    if web.editor_text(driver) != square or menu.first_selected_option.get_attribute("value") != "square":
        problems.append("choosing the example square did not show it in the editor and the menu")
    driver.execute_script("playgroundEditor.focus()")
    ActionChains(driver).key_down(Keys.CONTROL).send_keys("z").key_up(Keys.CONTROL).perform()
    if web.editor_text(driver) != "(a (b))" or menu.first_selected_option.get_attribute("value") != "":
        problems.append(f"Undo after an example: {web.editor_text(driver)!r}, the menu naming"
                        f" {menu.first_selected_option.text!r}")

    site.open(web.link(web.ENDLESS))
    time.sleep(1)
    output, state = site.result(ActionChains(driver).send_keys(Keys.ESCAPE).perform, seconds=5)
    if state != "Stopped.":
        problems.append(f"Escape during an endless run: {state!r}")


def kept(driver):
    return driver.execute_script("return localStorage.getItem('vellumark.program')")


def check_kept_work(site, problems):
    driver = site.driver
    site.open()
    web.type_program(driver, "(kept 1)")
    time.sleep(1)

    # A share link opens over the kept text without replacing it, says so and
    # offers it back; a reload without an edit opens the link again.
    linked = "(quote linked)\n"
    site.result(lambda: site.open(web.link(linked)))
    restore = driver.find_element(By.ID, "kept-restore")
    if kept(driver) != "(kept 1)" or not restore.is_displayed():
        problems.append(f"a share link: kept text {kept(driver)!r}, the button back shown: {restore.is_displayed()}")
    restore.click()
    if web.editor_text(driver) != "(kept 1)" or kept(driver) != "(kept 1)":
        problems.append(f"the button back gave {web.editor_text(driver)!r}, kept {kept(driver)!r}")
    # Once the link's program is edited, the edits are kept and come back on
    # a reload, not the link's program.
    site.result(lambda: site.open(web.link(linked)))
    web.type_program(driver, "(edited link)")
    time.sleep(1)
    driver.refresh()
    wait_for(driver, lambda: site.text("verdict"))
    if web.editor_text(driver) != "(edited link)" or kept(driver) != "(edited link)":
        problems.append(f"an edited link after a reload: {web.editor_text(driver)!r}, kept {kept(driver)!r}")

    # A malformed link touches neither the kept text nor the editor.
    site.open("#program=%E0%A4%A")
    wait_for(driver, lambda: site.text("verdict"))
    if (web.editor_text(driver) != "(edited link)" or kept(driver) != "(edited link)"
            or "not validly encoded" not in site.text("state")):
        problems.append(f"a malformed link: editor {web.editor_text(driver)!r}, kept {kept(driver)!r},"
                        f" {site.text('state')!r}")

    # The last keys before a reload are kept, within the moment before the
    # text would be kept in any case.
    web.type_program(driver, "(typed fast)")
    driver.refresh()
    wait_for(driver, lambda: site.text("verdict"))
    if web.editor_text(driver) != "(typed fast)":
        problems.append(f"typed just before a reload: the editor holds {web.editor_text(driver)!r}")

    # A second tab's change is noticed, and the user chooses.
    first = driver.current_window_handle
    driver.switch_to.new_window("tab")
    driver.get(site.address)
    wait_for(driver, lambda: site.text("verdict"))
    web.type_program(driver, "(other tab)")
    time.sleep(1)
    driver.switch_to.window(first)
    theirs = driver.find_element(By.ID, "kept-theirs")
    if not theirs.is_displayed() or "Another tab" not in site.text("kept"):
        problems.append(f"a second tab's change is not noticed: {site.text('kept')!r}")
    else:
        theirs.click()
        if web.editor_text(driver) != "(other tab)" or kept(driver) != "(other tab)":
            problems.append(f"choosing the other tab's text: {web.editor_text(driver)!r}, kept {kept(driver)!r}")
    web.type_program(driver, "(this tab)")
    time.sleep(1)
    driver.switch_to.window([handle for handle in driver.window_handles if handle != first][0])
    wait_for(driver, lambda: driver.find_element(By.ID, "kept-mine").is_displayed())
    driver.find_element(By.ID, "kept-mine").click()
    if kept(driver) != "(other tab)":
        problems.append(f"keeping the second tab's own text: kept {kept(driver)!r}")
    driver.close()
    driver.switch_to.window(first)
    # That was a change for this tab too; keeping its own text ends the choice.
    wait_for(driver, lambda: driver.find_element(By.ID, "kept-mine").is_displayed())
    driver.find_element(By.ID, "kept-mine").click()
    if kept(driver) != "(this tab)":
        problems.append(f"keeping the first tab's own text: kept {kept(driver)!r}")

    # Storage full of other data: a short text is not "too long".
    driver.execute_script("""
        localStorage.removeItem('vellumark.program');
        for (let size = 1 << 20, i = 0; size > 0; size >>= 1) {
          try { for (;;) localStorage.setItem(`filler ${i++}`, 'x'.repeat(size)); } catch {}
        }""")
    web.type_program(driver, "(short text)")
    time.sleep(1)
    said = site.text("kept")
    driver.execute_script("localStorage.clear()")
    if "too long" in said or "full" not in said:
        problems.append(f"a short text with the storage full of other data: {said!r}")


def check_small_screen(site, problems):
    driver = site.driver
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": 390, "height": 844, "deviceScaleFactor": 3, "mobile": True})
    try:
        site.open()
        site.result(site.choose("table"))
        wide = driver.execute_script("return [document.documentElement.scrollWidth, window.innerWidth]")
        if wide[0] > wide[1]:
            problems.append(f"at 390 pixels the document is {wide[0]} pixels wide, the window {wide[1]}")
        driver.execute_script("window.scrollTo(0, 0)")
        site.result(site.click("run"))
        top = driver.execute_script("return [document.getElementById('output').getBoundingClientRect().top,"
                                    " window.innerHeight]")
        if not 0 <= top[0] < top[1] - 100:
            problems.append(f"at 390 pixels after Run the output starts at {top[0]}, the window is {top[1]} high")
    finally:
        driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})


def index(text, line, column):
    """The index in `text` of line:column as the page counts them."""
    starts = [0] + [found.end() for found in re.finditer(r"\r\n|\r|\n", text)]
    return starts[line - 1] + column - 1


def reads(interpreter, text):
    """Whether the interpreter reads an expression from `text` and echoes it."""
    return "In:" in web.command_line(interpreter, text)[0]


def verdict_problems(interpreter, text, verdict):
    """What is wrong with the verdict line for `text`, judged by running the
    interpreter on the text and on the text cut or completed where the
    verdict says."""
    whole = web.command_line(interpreter, text)
    if found := re.fullmatch(r"Reads one expression, ending at (\d+):(\d+)(, once one more character follows"
                             r" it)?(?:; nothing after \1:\2 is read)?\.", verdict):
        end = index(text, int(found[1]), int(found[2])) + 1
        if found[3]:
            ok = whole == (BANNER, "0") and end == len(text) and reads(interpreter, text + "\n")
        else:
            # One character less reads something else, unless it is a leading
            # zero of a numeral.
            ok = ("In:" in whole[0] and web.command_line(interpreter, text[:end] + "\n") == whole
                  and (text[end - 1].isdigit() or web.command_line(interpreter, text[:end - 1] + "\n") != whole))
    elif found := re.fullmatch(r"(\d+) '\(' still open, (?:the first )?at (\d+):(\d+)\.", verdict):
        count, first = int(found[1]), index(text, int(found[2]), int(found[3]))
        closed = [any(reads(interpreter, text + tail + ")" * n + "\n") for tail in ("", "0")) for n in (count - 1, count)]
        ok = whole == (BANNER, "0") and text[first] == "(" and not text[:first].strip(" \t\r\n") and closed == [False, True]
    elif found := re.fullmatch(r"The reader stops at (\d+):(\d+): (.*)", verdict):
        at = index(text, int(found[1]), int(found[2]))
        ok = (whole == (BANNER + found[3] + "\n", "1") and web.command_line(interpreter, text[:at + 1]) == whole
              and web.command_line(interpreter, text[:at]) == (BANNER, "0"))
    else:
        ok = verdict == "No expression yet." and whole == (BANNER, "0") and not text.strip(" \t\r\n")
    return [] if ok else [f"the verdict on {text!r} is {verdict!r}; the interpreter writes {whole!r}"]


def check_verdicts(site, interpreter, problems):
    site.open()
    checked = skipped = 0
    seen = set()
    for case in (case for path in READER_CASES for case in golden.parse(path)):
        try:
            text = case.stdin.decode("utf-8")
        except UnicodeDecodeError:
            skipped += 1  # a link carries text, so no byte that is not UTF-8
            continue
        if text in seen:
            continue  # the same address again would not open anew
        seen.add(text)
        site.driver.execute_script("document.getElementById('verdict').textContent = '';"
                                   "location.hash = arguments[0]", web.link(text))
        wait_for(site.driver, lambda: site.text("verdict"))
        problems += verdict_problems(interpreter, text, site.text("verdict"))
        checked += 1
    print(f"verdicts: {checked} reader cases checked, {skipped} not UTF-8")


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    site = web.Site(pathlib.Path(sys.argv[1]), sys.argv[3], sys.argv[4])
    web.drive(site, [lambda problems: check_editing(site, sys.argv[2], problems),
                     lambda problems: check_kept_work(site, problems),
                     lambda problems: check_small_screen(site, problems),
                     lambda problems: check_verdicts(site, sys.argv[2], problems)])


if __name__ == "__main__":
    main()
