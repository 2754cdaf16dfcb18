#!/usr/bin/env python3
"""The reference of the four special forms and the fifteen built-ins, kept in
one table, doc/reference.tsv, and written out in two places: the README's two
tables and the playground's reference panel. So the two cannot disagree. The
same goes for what is not in the language, kept in doc/not-in-language.md
beside the table: the README's box of that name quotes it, and the page shows
its items above the editor, where a newcomer sees them before writing.

  panel TSV PAGE OUT       writes PAGE to OUT with the panel in place of the
                           line "<!-- reference -->"
  readme TSV README        rewrites the README's tables from the table
  check TSV README [INTERPRETER]
                           fails when the README's tables are not what the table
                           makes, and, given the interpreter, when an example
                           does not give the value the table says

The README's tables stand between the lines
"<!-- reference KIND: ... -->" and "<!-- end of reference KIND -->"; its box is
the quoted block that begins with the line holding "**Not in the language**".
The page's list replaces the line "<!-- not in the language -->".
"""

import html
import os
import re
import subprocess
import sys

KINDS = {"form": ("form", "what it does", "example", "value"),
         "built-in": ("built-in", "what it does", "example", "value")}


def rows(path):
    table = []
    with open(path, encoding="utf-8") as lines:
        for number, line in enumerate(lines, 1):
            if line.startswith("#") or not line.strip():
                continue
            fields = line.rstrip("\n").split("\t")
            if len(fields) != 5 or fields[0] not in KINDS:
                sys.exit(f"{path}:{number}: want 5 tab-separated fields, the first one of {', '.join(KINDS)}")
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


def markdown_table(table, kind):
    lines = ["| " + " | ".join(KINDS[kind]) + " |", "|---|---|---|---|"]
    lines += [f"| {row['name']} | {row['what']} | {row['examples']} | {row['value']} |"
              for row in table if row["kind"] == kind]
    return lines


def readme_with_tables(readme, table):
    for kind in KINDS:
        pattern = re.compile(rf"(<!-- reference {kind}:[^\n]*-->\n).*?(<!-- end of reference {kind} -->)", re.S)
        if not pattern.search(readme):
            sys.exit(f"the README has no lines marking the reference of each {kind}")
        readme = pattern.sub(lambda found: found.group(1) + "\n".join(markdown_table(table, kind)) + "\n"
                             + found.group(2), readme)
    return readme


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


def check(table, box, readme_path, interpreter):
    problems = []
    with open(readme_path, encoding="utf-8") as readme:
        text = readme.read()
    if readme_with_tables(text, table) != text:
        problems.append(f"{readme_path}: the reference tables are not those of the table; run"
                        " web/reference.py readme doc/reference.tsv README.md")
    if readme_with_box(text, box) != text:
        problems.append(f"{readme_path}: the box Not in the language is not doc/not-in-language.md; run"
                        " web/reference.py readme doc/reference.tsv README.md")
    for row in table if interpreter else []:
        for call in row["calls"]:
            done = subprocess.run([interpreter], input=(call + "\n").encode(), capture_output=True, timeout=30)
            got = done.stdout.decode("utf-8", "replace").splitlines()
            value = row["value"].strip("`")
            # print writes its operand before the Out: line, on the same line.
            if done.returncode != 0 or not got or not got[-1].endswith("Out:  " + value):
                problems.append(f"{call}: the table says {value!r}, the interpreter writes {got[-1:]!r}"
                                f" with status {done.returncode}")
    return problems


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    command, tsv, target = sys.argv[1:4]
    table = rows(tsv)
    box = missing(missing_path(tsv))
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
        with open(target, encoding="utf-8") as readme:
            text = readme_with_box(readme_with_tables(readme.read(), table), box)
        with open(target, "w", encoding="utf-8") as readme:
            readme.write(text)
    elif command == "check" and len(sys.argv) in (4, 5):
        problems = check(table, box, target, sys.argv[4] if len(sys.argv) == 5 else None)
        for problem in problems:
            print(f"FAIL {problem}")
        print(f"{len(table)} entries, {len(box)} lines of the box; {len(problems)} problems")
        sys.exit(1 if problems else 0)
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
