#!/usr/bin/env python3
"""Writes the keyword reference of docs/brains.md from the sources.

    python3 docs/keywords.py            # rewrite the table in docs/brains.md
    python3 docs/keywords.py --check    # exit 1 when the table is out of date

Keywords and their parameter counts come from brain/keywords.cpp; what each
does comes from the binding tables (rows `{"name", routine, ..., "doc"}`, the
doc being the row's string literals after the name) of every source folder. A table's
`// Heading.` comments name its subjects; a table without them takes its
subject from its file. Keywords that no table binds are listed at the end.
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
DOC = ROOT / "docs" / "brains.md"
BEGIN, END = "<!-- keywords:begin -->", "<!-- keywords:end -->"

# Subject of a binding table by its file's name, when the table has no headings.
SUBJECTS = [
    ("fields", "Element fields"),
    ("elements", "Choosing and switching elements"),
    ("motion", "Motion"),
    ("math", "Arithmetic"),
    ("run", "Run control"),
    ("input", "Keyboard, mouse and game controllers"),
    ("collide", "Collisions"),
    ("layers", "Text and 2D layers"),
    ("render", "Rendering"),
    ("lights", "Lights"),
    ("shadows", "Shadows"),
    ("tracks", "Tracks"),
    ("splines", "Splines"),
    ("video", "Video and programs"),
    ("save_game", "Save games"),
    ("sound", "Sound"),
    ("race", "Races"),
    ("net", "Network"),
    ("string", "Strings, arrays and dialogs"),
    ("brain", "Arithmetic"),
]

ROW = re.compile(r'\{\s*"([a-z0-9_]+)"\s*,(.*?)\}\s*(?:,|$)', re.S)
LITERAL = re.compile(r'"((?:[^"\\]|\\.)*)"')


def keyword_rows():
    text = (ROOT / "brain" / "keywords.cpp").read_text()
    table = text[text.index("kKeywords[] = {"):]
    table = table[:table.index("};")]
    rows = [(m.group(1), int(m.group(2))) for m in re.finditer(r'\{"([a-z0-9_]+)",\s*(\d+)', table)]
    synonyms = {}
    block = text[text.index("kSynonyms[][3] = {"):]
    for group in re.findall(r'\{("[^}]*")\}', block[:block.index("};")]):
        names = [n for n in LITERAL.findall(group) if n]
        for n in names:
            synonyms[n] = names
    return rows, synonyms


# Subjects in the order the reference lists them; others follow by name.
ORDER = ["Element fields", "Field access", "Choosing and switching elements", "Element selection",
         "Switching and showing", "Motion", "Arithmetic", "Run control", "Keyboard",
         "Keyboard, mouse and game controllers", "Collisions", "Text and 2D layers", "Rendering", "Lights",
         "Shadows", "Tracks", "Splines", "Video and programs", "Save games", "Sound", "Races", "Network",
         "Strings, arrays and dialogs"]


def subject_of(path):
    name = f"{path.parent.name}/{path.stem}"
    for key, subject in SUBJECTS:
        if key in name:
            return subject
    return path.stem.replace("_", " ").capitalize()


def bindings():
    """(name, subject, doc) for every row of every binding table, in source order."""
    found = []
    for path in sorted(ROOT.glob("*/**/*.cpp")):
        if path.parts[len(ROOT.parts)].startswith("build") or path.name.endswith("_test.cpp"):
            continue
        text = path.read_text(errors="replace")
        for start in re.finditer(r"Binding\s+k\w*\[\]\s*=\s*\{", text):
            body = text[start.end():]
            body = body[:re.search(r"\n\s*\};", body).start()]
            # Rows may span lines; a short comment line names the rows after it.
            marks = [(m.start(), m.group(1)) for m in re.finditer(r"^\s*//\s*(.+?)\.?\s*$", body, re.M)
                     if len(m.group(1).split()) <= 5]  # a heading, not a remark
            for m in ROW.finditer(body):
                heads = [h for at, h in marks if at < m.start()]
                literals = LITERAL.findall(m.group(2))
                found.append((m.group(1), heads[-1] if heads else subject_of(path), "".join(literals)))
    return found


def table():
    rows, synonyms = keyword_rows()
    argc = dict(rows)
    bound = {}
    for name, subject, doc in bindings():
        for n in synonyms.get(name, [name]):
            bound.setdefault(n, (subject, doc))
    subjects = {}
    for name, _ in rows:
        if name in bound and synonyms.get(name, [name])[0] == name:
            subjects.setdefault(bound[name][0], []).append(name)
    out = []
    rank = lambda s: (ORDER.index(s) if s in ORDER else len(ORDER), s)
    for subject, names in sorted(subjects.items(), key=lambda item: rank(item[0])):
        out += ["", f"### {subject}", ""]
        documented = any(bound[name][1] for name in names)
        if documented:
            out += ["| Keyword | What it does |", "|---|---|"]
        calls = []
        for name in sorted(names):
            others = [n for n in synonyms.get(name, []) if n != name]
            call = f"`{name}({', '.join('abcde'[: argc[name]])})`"
            shown = call + (" (" + ", ".join(f"`{n}`" for n in others) + ")" if others else "")
            if documented:
                out.append(f"| {shown} | {bound[name][1].replace('|', '/')} |")
            else:
                calls.append(shown)
        if calls:  # no descriptions yet: the calls alone
            out.append(", ".join(calls))
    missing = sorted(n for n, _ in rows if n not in bound)
    if missing:
        out += ["", "### Not built yet", "",
                "These keywords compile and take their parameters, but do nothing yet and return 0:", ""]
        out.append(", ".join(f"`{n}({', '.join('abcde'[: argc[n]])})`" for n in missing))
    return "\n".join(out + [""])


def main():
    text = DOC.read_text()
    head, rest = text.split(BEGIN, 1)
    _, tail = rest.split(END, 1)
    new = head + BEGIN + "\n" + table() + END + tail
    if "--check" in sys.argv[1:]:
        sys.exit(0 if new == text else 1)
    DOC.write_text(new)


if __name__ == "__main__":
    main()
