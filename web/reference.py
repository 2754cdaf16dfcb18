#!/usr/bin/env python3
"""The reference of the four special forms and the fifteen built-ins, kept in
one table, doc/reference.tsv, and the error lines with their exit statuses,
kept in another beside it, doc/errors.tsv; each written out wherever it is
shown: the README's tables, the manual page doc/vellumark.1 (beside the
tables) and, for the forms and built-ins, the playground's reference panel. So
none of them can say something the others do not.
The same goes for what is not in the language, kept in doc/not-in-language.md
beside the table: the README's box of that name quotes it, and the page shows
its items above the editor, where a newcomer sees them before writing.

  panel TSV PAGE OUT       writes PAGE to OUT with the panel in place of the
                           line "<!-- reference -->"
  readme TSV README        rewrites the README's tables and the manual page's
                           from the tables
  check TSV README [INTERPRETER]
                           fails when the README's or the manual page's tables
                           are not what the tables make, and, given the
                           interpreter, when an example does not give the value
                           or the error line and status the table says

The README's tables stand between the lines "<!-- reference KIND: ... -->"
and "<!-- end of reference KIND -->", the manual page's between
".\\" reference KIND: ..." and ".\\" end of reference KIND", for KIND form,
built-in and error.
The README's box is the quoted block that begins with the line holding
"**Not in the language**"; the page's list replaces the line
"<!-- not in the language -->".
"""

import html
import os
import re
import subprocess
import sys

KINDS = {"form": ("form", "what it does", "example", "value"),
         "built-in": ("built-in", "what it does", "example", "value")}


def records(path, count, want):
    """The tab-separated fields of each line of `path` but comments and blank
    lines; a line without `count` fields ends the run, saying it wants `want`."""
    with open(path, encoding="utf-8") as lines:
        for number, line in enumerate(lines, 1):
            if line.startswith("#") or not line.strip():
                continue
            fields = line.rstrip("\n").split("\t")
            if len(fields) != count:
                sys.exit(f"{path}:{number}: want {count} tab-separated fields: {want}")
            yield number, fields


def rows(path):
    table = []
    for number, fields in records(path, 5, f"kind (one of {', '.join(KINDS)}), name, what, examples, value"):
        if fields[0] not in KINDS:
            sys.exit(f"{path}:{number}: want the first field one of {', '.join(KINDS)}")
        kind, name, what, examples, value = fields
        calls = [call.strip("`") for call in examples.split(", ")]
        table.append({"kind": kind, "name": name, "what": what, "examples": examples, "calls": calls,
                      "value": value})
    return table


def missing_path(tsv):
    return os.path.join(os.path.dirname(tsv), "not-in-language.md")


def missing(path):
    """The box's lines, without the comment that opens the file."""
    with open(path, encoding="utf-8") as text:
        lines = text.read().splitlines()
    while lines and lines[0].startswith("<!--"):
        lines.pop(0)
    if not lines or "**Not in the language**" not in lines[0] or not any(line.startswith("- ") for line in lines):
        sys.exit(f"{path}: want a first line holding **Not in the language** and items that begin with '- '")
    return lines


def readme_with_box(readme, lines):
    text = readme.split("\n")
    starts = [number for number, line in enumerate(text)
              if line.startswith(">") and "**Not in the language**" in line]
    if len(starts) != 1:
        sys.exit("the README has no one quoted box that begins with **Not in the language**")
    end = starts[0]
    while end < len(text) and text[end].startswith(">"):
        end += 1
    box = [f"> {line}" if line else ">" for line in lines]
    return "\n".join(text[:starts[0]] + box + text[end:])


ERROR_COLUMNS = ("line", "exit status", "cause")


def errors(path):
    """The rows of doc/errors.tsv: line, status, cause, and a program that ends so."""
    table = []
    for _, fields in records(path, 4, "line, status, cause, program"):
        table.append(dict(zip(("line", "status", "cause", "program"), fields)))
    return table


def cell(markdown):
    """A table cell: a | would end it, in code spans too."""
    return markdown.replace("|", "\\|")


def markdown_table(table, kind):
    if kind == "error":
        lines = ["| " + " | ".join(ERROR_COLUMNS) + " |", "|---|---|---|"]
        return lines + [f"| {cell(row['line'])} | {row['status']} | {cell(row['cause'])} |" for row in table]
    lines = ["| " + " | ".join(KINDS[kind]) + " |", "|---|---|---|---|"]
    lines += [f"| {cell(row['name'])} | {cell(row['what'])} | {cell(row['examples'])} | {cell(row['value'])} |"
              for row in table if row["kind"] == kind]
    return lines


def with_blocks(text, what, start, end, block):
    """`text` with what stands between each KIND's `start` and `end` lines replaced by block(KIND)."""
    for kind in (*KINDS, "error"):
        pattern = re.compile(rf"({re.escape(start)}{kind}:[^\n]*\n).*?({re.escape(end)}{kind}\b[^\n]*\n)", re.S)
        if not pattern.search(text):
            sys.exit(f"{what} has no lines marking the table of each {kind}")
        text = pattern.sub(lambda found: found.group(1) + "".join(line + "\n" for line in block(kind))
                           + found.group(2), text)
    return text


def readme_with_tables(readme, table, error_table):
    return with_blocks(readme, "the README", "<!-- reference ", "<!-- end of reference ",
                       lambda kind: markdown_table(error_table if kind == "error" else table, kind))


def roff(markdown):
    """Markdown's code spans and links, as the tables use them, in the manual page's roff: code in
    bold with unpaddable blanks, so that it is never split across lines (the page's own rule)."""
    out = []
    for code, text in re.findall(r"`([^`]*)`|([^`]+)", markdown):
        if code:
            code = code.replace("\\", "\\e").replace("-", "\\-").replace("'", "\\(aq").replace(" ", "\\ ")
            out.append(f"\\fB{code}\\fR")
        else:
            # A link to a section of the README names the section there; another is its text.
            text = text.replace("\\", "\\e")
            text = re.sub(r"\[([^\]]*)\]\(#[^)]*\)", r"\\(lq\1\\(rq in README.md", text)
            text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", text)
            out.append(text)
    line = "".join(out)
    # A line that begins with a full stop or an apostrophe would be read as a request.
    return "\\&" + line if line[:1] in (".", "'") else line


def manual_block(table, error_table, kind):
    lines = []
    if kind == "error":
        for row in error_table:
            lines += [".TP", roff(row["line"]) if row["line"].startswith("`") else f"\\fI{roff(row['line'])}\\fR",
                      roff(row["cause"][:1].upper() + row["cause"][1:]) + ".", f"Exit status {row['status']}."]
        return lines
    for row in table:
        if row["kind"] != kind:
            continue
        examples = ", ".join(roff(f"`{call}`") for call in row["calls"])
        lines += [".TP", roff(row["name"]), roff(row["what"][:1].upper() + row["what"][1:]) + ".",
                  f"Example{'s' if len(row['calls']) > 1 else ''}: {examples} \\(-> {roff(row['value'])}."]
    return lines


def manual_with_tables(manual, table, error_table):
    return with_blocks(manual, "the manual page", '.\\" reference ', '.\\" end of reference ',
                       lambda kind: manual_block(table, error_table, kind))


def inline(markdown):
    """Markdown's code spans, links and strong words, as the table and the box
    use them, in HTML."""
    out = []
    for code, text in re.findall(r"`([^`]*)`|([^`]+)", markdown):
        if code:
            out.append(f"<code>{html.escape(code)}</code>")
        else:
            text = html.escape(re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", text), quote=False)
            out.append(re.sub(r"\*\*([^*]+)\*\*", r"<strong>\1</strong>", text))
    return "".join(out)


def missing_panel(lines):
    """The box as a list that starts open: its heading, then one item for each
    "- " line and the lines that continue it."""
    items = []
    for line in lines[1:]:
        if line.startswith("- "):
            items.append(line[2:])
        elif line.strip() and items:
            items[-1] += " " + line.strip()
    heading = lines[0].rstrip(":")
    return "\n".join(['<details id="not-in-language" open>', f"<summary>{inline(heading)}</summary>", "<ul>"]
                     + [f"<li>{inline(item)}</li>" for item in items] + ["</ul>", "</details>"])


def panel(table):
    lines = ['<details id="reference" open>',
             "<summary>Reference: the four special forms and the fifteen built-ins"
             " (each button puts its call in the editor and runs it)</summary>", "<dl>"]
    for row in table:
        buttons = " ".join(f'<button type="button" data-program="{html.escape(call)}">{html.escape(call)}</button>'
                           for call in row["calls"])
        lines.append(f"<div><dt>{inline(row['name'])}</dt><dd>{inline(row['what'])}<br>"
                     f"{buttons} ⇒ {inline(row['value'])}</dd></div>")
    return "\n".join(lines + ["</dl>", "</details>"])


def run(interpreter, program):
    done = subprocess.run([interpreter], input=(program + "\n").encode(), capture_output=True, timeout=30)
    return done.stdout.decode("utf-8", "replace").splitlines(), done.returncode


def check(table, error_table, box, readme_path, manual_path, interpreter):
    problems = []
    for path, rewrite in ((readme_path, readme_with_tables), (manual_path, manual_with_tables)):
        with open(path, encoding="utf-8") as document:
            text = document.read()
        if rewrite(text, table, error_table) != text:
            problems.append(f"{path}: the tables are not those of doc/reference.tsv and doc/errors.tsv; run"
                            " web/reference.py readme doc/reference.tsv README.md")
    with open(readme_path, encoding="utf-8") as readme:
        text = readme.read()
    if readme_with_box(text, box) != text:
        problems.append(f"{readme_path}: the box Not in the language is not doc/not-in-language.md; run"
                        " web/reference.py readme doc/reference.tsv README.md")
    for row in error_table if interpreter else []:
        if not row["program"]:
            continue
        got, status = run(interpreter, row["program"])
        # An error line ends the output; a run that ends without one writes the banner alone.
        want = [row["line"].strip("`")] if row["line"].startswith("`") else ["Vellumark", ""]
        if str(status) != row["status"] or got[-len(want):] != want:
            problems.append(f"{row['program']}: the error table says {want[-1]!r} and status {row['status']},"
                            f" the interpreter writes {got[-1:]!r} with status {status}")
    for row in table if interpreter else []:
        for call in row["calls"]:
            got, status = run(interpreter, call)
            value = row["value"].strip("`")
            # print writes its operand before the Out: line, on the same line.
            if status != 0 or not got or not got[-1].endswith("Out:  " + value):
                problems.append(f"{call}: the table says {value!r}, the interpreter writes {got[-1:]!r}"
                                f" with status {status}")
    return problems


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    command, tsv, target = sys.argv[1:4]
    table = rows(tsv)
    box = missing(missing_path(tsv))
    # The error table and the manual page stand beside the reference table.
    error_table = errors(os.path.join(os.path.dirname(tsv), "errors.tsv"))
    manual = os.path.join(os.path.dirname(tsv), "vellumark.1")
    if command == "panel" and len(sys.argv) == 5:
        with open(target, encoding="utf-8") as page:
            text = page.read()
        for line in ("<!-- reference -->\n", "<!-- not in the language -->\n"):
            if line not in text:
                sys.exit(f"{target} has no line {line.strip()}")
        text = text.replace("<!-- reference -->\n", panel(table) + "\n")
        with open(sys.argv[4], "w", encoding="utf-8") as out:
            out.write(text.replace("<!-- not in the language -->\n", missing_panel(box) + "\n"))
    elif command == "readme" and len(sys.argv) == 4:
        for path, rewrite in ((target, readme_with_tables), (manual, manual_with_tables)):
            with open(path, encoding="utf-8") as document:
                text = rewrite(document.read(), table, error_table)
            if path == target:
                text = readme_with_box(text, box)
            with open(path, "w", encoding="utf-8") as document:
                document.write(text)
    elif command == "check" and len(sys.argv) in (4, 5):
        problems = check(table, error_table, box, target, manual, sys.argv[4] if len(sys.argv) == 5 else None)
        for problem in problems:
            print(f"FAIL {problem}")
        print(f"{len(table)} entries, {len(error_table)} error lines, {len(box)} lines of the box;"
              f" {len(problems)} problems")
        sys.exit(1 if problems else 0)
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
