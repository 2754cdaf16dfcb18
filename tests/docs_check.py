#!/usr/bin/env python3
"""What the documents say, held to what is. A sentence in README.md or
CONTRIBUTING.md goes stale silently when the code beside it moves; each check
here reads a fact the way a reader would and asks the tree, the build or the
interpreter whether it still holds:

  - the test presets table of CONTRIBUTING.md names what each test preset of
    CMakePresets.json leaves out, and nothing else;
  - its labels table names every label (tests/CMakeLists.txt, and
    `ctest --print-labels` of the build), and no other;
  - its layout tables name every file of src/ and every folder, and nothing
    that is gone; its golden-case tables every folder of tests/golden and
    every line that tests/golden.py reads;
  - every `make TARGET` and `--preset NAME` in the documents exists, every
    target of the Makefile is in CONTRIBUTING.md's table, and the README says
    what `make dist` puts in the Linux archive;
  - README.md is at most 800 lines, and every link to a heading, in these
    documents and tests/README.md, finds it;
  - every quoted run is what a run gives: each output block of the README that
    begins with the banner against the interpreter on its `In:` line, each
    `$ command` in the README's and the manual page's examples against the
    command run, each ```scheme block against a file of examples/.

Usage: docs_check.py SOURCE_DIR BUILD_DIR VELLUMARK VELLUMARK_TRACE CTEST
"""

import glob
import json
import os
import re
import subprocess
import sys

README_LINES = 800
TIMEOUT_SECONDS = 60


def read(path):
    with open(path, encoding="utf-8") as text:
        return text.read()


def cells(line):
    """The cells of a Markdown table row; a | inside a cell is written \\|."""
    return [cell.strip().replace("\\|", "|") for cell in re.split(r"(?<!\\)\|", line.strip())[1:-1]]


def table(text, header):
    """The rows of the table whose header row begins with `header`, without the header."""
    lines = text.splitlines()
    for number, line in enumerate(lines):
        if line.startswith(header):
            rows = []
            for row in lines[number + 2:]:
                if not row.startswith("|"):
                    break
                rows.append(cells(row))
            return rows
    raise LookupError(f"no table that begins {header!r}")


def code(cell):
    """The code spans of a cell."""
    return re.findall(r"`([^`]*)`", cell)


def alternatives(pattern, where):
    """The names a filter's regular expression of plain alternatives matches."""
    if not pattern:
        return set()
    inner = re.fullmatch(r"\^\((.*)\)\$", pattern)
    names = set()
    for alternative in (inner.group(1) if inner else pattern).split("|"):
        name = alternative.removeprefix("^").removesuffix("$")
        if not re.fullmatch(r"[\w./-]+", name):
            raise ValueError(f"{where}: cannot tell what {alternative!r} leaves out")
        names.add(name)
    return names


def check_presets(source, contributing, problems):
    presets = json.loads(read(os.path.join(source, "CMakePresets.json")))["testPresets"]
    stated = {}
    for row in table(contributing, "| preset (make target) |"):
        name = code(row[0])[0]
        labels, tests = set(), set()
        for part in row[1].split(";"):
            part = part.strip()
            if part.startswith("label"):
                labels |= set(code(part))
            elif part.startswith("test"):
                tests |= set(code(part))
            elif part != "nothing":
                problems.append(f"CONTRIBUTING.md: preset {name}: {part!r} is neither labels nor tests")
        stated[name] = (labels, tests)
    for preset in presets:
        name = preset["name"]
        exclude = preset.get("filter", {}).get("exclude", {})
        real = (alternatives(exclude.get("label"), name), alternatives(exclude.get("name"), name))
        if name not in stated:
            problems.append(f"CONTRIBUTING.md: the test preset {name} is not in the presets table")
        elif stated[name] != real:
            problems.append(f"CONTRIBUTING.md: preset {name} leaves out labels {sorted(real[0])} and tests"
                            f" {sorted(real[1])}, the table says labels {sorted(stated[name][0])} and tests"
                            f" {sorted(stated[name][1])}")
    for name in stated.keys() - {preset["name"] for preset in presets}:
        problems.append(f"CONTRIBUTING.md: the presets table names {name}, which CMakePresets.json has not")


def check_labels(source, contributing, ctest, build, problems):
    registered = set(re.findall(r"\bLABELS\s+([\w-]+)", read(os.path.join(source, "tests", "CMakeLists.txt"))))
    printed = subprocess.run([ctest, "--test-dir", build, "--print-labels"], capture_output=True, text=True,
                             timeout=TIMEOUT_SECONDS, check=True).stdout
    labels = set(re.findall(r"^  (\S+)$", printed, re.M))
    if not labels <= registered:
        problems.append(f"ctest knows labels {sorted(labels - registered)} that tests/CMakeLists.txt does not set")
    stated = {label for row in table(contributing, "| label |") for label in code(row[0])}
    if stated != registered | labels:
        problems.append(f"CONTRIBUTING.md: the labels table names {sorted(stated)}, the suite has"
                        f" {sorted(registered | labels)}")


def check_layout(source, contributing, problems):
    units = {name for row in table(contributing, "| unit |") for name in code(row[0])}
    files = sorted(os.listdir(os.path.join(source, "src")))
    stems = {name.split(".")[0] for name in files}
    for name in files:
        if name.split(".")[0] not in units and name not in units:
            problems.append(f"CONTRIBUTING.md: src/{name} has no row in the layout table")
    for unit in sorted(units - stems - set(files)):
        problems.append(f"CONTRIBUTING.md: the layout table names {unit}, which src/ has not")

    ignored = {line.strip("/") for line in read(os.path.join(source, ".gitignore")).splitlines()
               if line.startswith("/") and line.endswith("/")}
    folders = {name for name in os.listdir(source)
               if os.path.isdir(os.path.join(source, name)) and name not in ignored | {".git", "src"}}
    stated = {name.rstrip("/") for row in table(contributing, "| folder | what it holds |") for name in code(row[0])}
    for folder in sorted(folders - stated):
        problems.append(f"CONTRIBUTING.md: the folder {folder}/ has no row in the folders table")
    for folder in sorted(stated - folders - ignored):
        problems.append(f"CONTRIBUTING.md: the folders table names {folder}/, which is not there")

    golden = {os.path.basename(os.path.dirname(path))
              for path in glob.glob(os.path.join(source, "tests", "golden", "*", ""))}
    stated = {name for row in table(contributing, "| folder | what its cases are about |") for name in code(row[0])}
    if stated != golden:
        problems.append(f"CONTRIBUTING.md: the golden folders table names {sorted(stated)}, tests/golden has"
                        f" {sorted(golden)}")
    # golden.py's own description of its lines: '"<| text"  standard output ...'.
    doc = read(os.path.join(source, "tests", "golden.py")).split('"""')[1]
    read_lines = {re.sub(r"\s+", " ", marker) for marker in re.findall(r'^ {4}"([^"]+)" {2,}', doc, re.M)}
    stated = {re.sub(r"\s+", " ", name) for row in table(contributing, "| line | meaning |") for name in code(row[0])}
    for marker in sorted(read_lines - stated):
        problems.append(f"CONTRIBUTING.md: the golden-case lines table lacks {marker!r}, which tests/golden.py reads")


def check_commands(source, documents, contributing, problems):
    makefile = read(os.path.join(source, "Makefile"))
    targets = set(re.findall(r"^([a-z][\w-]*):", makefile, re.M))
    presets = json.loads(read(os.path.join(source, "CMakePresets.json")))
    preset_names = {preset["name"] for kind in ("configurePresets", "testPresets", "workflowPresets")
                    for preset in presets.get(kind, [])}
    for path, text in documents.items():
        for target in sorted(set(re.findall(r"(?:^|`)make ([a-z][\w-]*)", text, re.M))):
            if target not in targets:
                problems.append(f"{path}: `make {target}` is no target of the Makefile")
        for name in sorted(set(re.findall(r"--preset (\w+)", text))):
            if name not in preset_names:
                problems.append(f"{path}: `--preset {name}` is no preset of CMakePresets.json")
    # What the README says the Linux archive holds, against what `make dist` copies into it.
    listed = re.search(r"^tar -xzf vellumark-\S*-linux-\S*\s+# (.*)$", documents["README.md"], re.M)
    copied = re.search(r"^\tcp (.*?)\s+\$\(LINUX_DIST\)/", makefile.replace("\\\n", " "), re.M)
    if listed and copied:
        said = {name.strip() for name in listed.group(1).split(",")}
        held = {os.path.basename(path) for path in copied.group(1).split()}
        if said != held:
            problems.append(f"README.md: the Linux archive holds {sorted(held)} (Makefile, dist), the README says"
                            f" {sorted(said)}")
    else:
        problems.append("README.md or the Makefile: no line that says what the Linux archive holds")
    stated = {target for row in table(contributing, "| command | what it does |")
              for span in code(row[0]) for target in re.findall(r"^make ([a-z][\w-]*)", span)}
    for target in sorted(targets - stated - {"all"}):
        problems.append(f"CONTRIBUTING.md: the Makefile's target {target} is not in the commands table")


def anchors(text):
    """The anchors GitHub gives a Markdown file's headings."""
    found = set()
    for heading in re.findall(r"^#+ (.*)$", re.sub(r"^```.*?^```$", "", text, flags=re.M | re.S), re.M):
        found.add(re.sub(r"[^\w\- ]", "", heading.lower()).replace(" ", "-"))
    return found


def check_links(source, paths, problems):
    """Every link to a heading, in the same file or another, names a heading that is there. (A link to a
    file that another branch brings is not held to its file here.)"""
    for path in paths:
        text = read(os.path.join(source, path))
        for target, anchor in re.findall(r"\]\(([^)#\s]*)#([^)\s]+)\)", text):
            linked = os.path.normpath(os.path.join(os.path.dirname(path), target)) if target else path
            if not os.path.exists(os.path.join(source, linked)):
                continue
            if anchor not in anchors(read(os.path.join(source, linked))):
                problems.append(f"{path}: the link to {target}#{anchor} names no heading of {linked}")


def run(command, source, build, vellumark, tracer):
    """A documented command line, run where the documents run it, with the programs of this build."""
    command = command.replace("build/release/vellumark", vellumark)
    environment = dict(os.environ, PATH=os.pathsep.join([os.path.dirname(tracer), os.path.dirname(vellumark),
                                                         os.environ.get("PATH", "")]))
    done = subprocess.run(["sh", "-c", command], cwd=source, env=environment, capture_output=True,
                          timeout=TIMEOUT_SECONDS)
    return done.stdout.decode("utf-8", "replace")


def transcripts(lines):
    """(command, expected output) for each "$ command" line and the lines after it."""
    found = []
    for line in lines:
        if line.startswith("$ "):
            found.append((line[2:], []))
        elif found:
            found[-1][1].append(line)
    return [(command, "".join(line + "\n" for line in output)) for command, output in found]


def check_runs(source, build, vellumark, tracer, readme, problems):
    examples = {read(path).strip() for path in glob.glob(os.path.join(source, "examples", "*.scm"))}
    blocks = re.findall(r"^```(\w*)\n(.*?)^```$", readme, re.M | re.S)
    runs = 0
    for language, block in blocks:
        if language == "scheme" and block.strip() not in examples:
            problems.append(f"README.md: this program is no file of examples/:\n{block}")
        elif language == "" and block.startswith("Vellumark\n\nIn:   "):
            program = block.splitlines()[2].removeprefix("In:   ")
            got = subprocess.run([vellumark], input=(program + "\n").encode(), capture_output=True,
                                 timeout=TIMEOUT_SECONDS).stdout.decode("utf-8", "replace")
            runs += 1
            if got != block:
                problems.append(f"README.md: {program} writes\n{got}where the README shows\n{block}")
        elif language == "sh":
            for command, want in transcripts(block.splitlines()):
                runs += 1
                got = run(command, source, build, vellumark, tracer)
                if got != want:
                    problems.append(f"README.md: `{command}` writes\n{got}where the README shows\n{want}")
    # The manual page's examples, with roff's escapes undone.
    page = read(os.path.join(source, "doc", "vellumark.1"))
    for block in re.findall(r"^\.EX\n(.*?)^\.EE$", page, re.M | re.S):
        text = block.replace("\\(aq", "'").replace("\\-", "-").replace("\\e", "\\")
        for command, want in transcripts(text.splitlines()):
            runs += 1
            got = run(command, source, build, vellumark, tracer)
            if got != want:
                problems.append(f"doc/vellumark.1: `{command}` writes\n{got}where the page shows\n{want}")
    return runs


def main():
    if len(sys.argv) != 6:
        sys.exit(__doc__)
    source, build, vellumark, tracer, ctest = (os.path.abspath(arg) if index < 4 else arg
                                               for index, arg in enumerate(sys.argv[1:]))
    readme = read(os.path.join(source, "README.md"))
    contributing = read(os.path.join(source, "CONTRIBUTING.md"))
    problems = []
    if len(readme.splitlines()) > README_LINES:
        problems.append(f"README.md has {len(readme.splitlines())} lines, more than {README_LINES}: the user's"
                        " guide says each thing once and leaves the rest to CONTRIBUTING.md")
    check_presets(source, contributing, problems)
    check_labels(source, contributing, ctest, build, problems)
    check_layout(source, contributing, problems)
    check_commands(source, {"README.md": readme, "CONTRIBUTING.md": contributing}, contributing, problems)
    check_links(source, ["README.md", "CONTRIBUTING.md", os.path.join("tests", "README.md")], problems)
    runs = check_runs(source, build, vellumark, tracer, readme, problems)
    for problem in problems:
        print(f"FAIL {problem}")
    print(f"{runs} quoted runs and the tables checked; {len(problems)} problems")
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
