#!/usr/bin/env python3
"""The README stays whole: every relative link in README.md and docs/*.md resolves (files and
#anchors), every file under docs/ and examples/ is linked from README.md, and no command line
stands outside a code block. Usage: readme_links_test.py REPOSITORY"""
import os
import re
import sys

root = sys.argv[1]
LINK = re.compile(r"\[[^\]]*\]\(([^)\s]+)\)")
# A line that starts like a command: a program path or a command people type.
COMMAND = re.compile(r"^\s*(\$ )?(build/|scripts/|bench/|\./|\$bin/|node |python3? |cmake |ctest |"
                     r"parallel |sbatch |sudo |apt-get |git |npm |nimbus-[a-z-]+ )")
failures = []


def prose(path):
    """The lines of a Markdown file outside fenced code blocks, with their numbers."""
    fenced = False
    for number, line in enumerate(open(path, encoding="utf-8"), 1):
        if line.lstrip().startswith("```"):
            fenced = not fenced
            continue
        if not fenced:
            yield number, line.rstrip("\n")


def anchors(path):
    """The anchors of a Markdown file's headings, as the common renderers make them."""
    found = set()
    for _, line in prose(path):
        if line.startswith("#"):
            text = line.lstrip("#").strip().lower()
            found.add(re.sub(r"[^\w\- ]", "", text).replace(" ", "-"))
    return found


documents = ["README.md"] + sorted(os.path.join("docs", f) for f in os.listdir(os.path.join(root, "docs"))
                                   if f.endswith(".md"))
linked_from_readme = set()
for doc in documents:
    path = os.path.join(root, doc)
    for number, line in prose(path):
        where = f"{doc}:{number}"
        if COMMAND.match(line):
            failures.append(f"{where}: a command line outside a code block: {line.strip()}")
        for target in LINK.findall(line):
            if re.match(r"^[a-z]+:", target):
                continue  # http:, https:, mailto:
            file_part, _, anchor = target.partition("#")
            resolved = os.path.normpath(os.path.join(os.path.dirname(path), file_part)) if file_part else path
            if not os.path.exists(resolved):
                failures.append(f"{where}: the link {target} leads nowhere")
                continue
            if anchor and resolved.endswith(".md") and anchor not in anchors(resolved):
                failures.append(f"{where}: the link {target}: no heading #{anchor} there")
            if doc == "README.md":
                linked_from_readme.add(os.path.relpath(resolved, root))

for folder in ("docs", "examples"):
    for base, _, files in os.walk(os.path.join(root, folder)):
        for name in files:
            relative = os.path.relpath(os.path.join(base, name), root)
            if relative not in linked_from_readme and not name.endswith(".pyc"):
                failures.append(f"README.md does not link {relative} (every file under docs/ and "
                                "examples/ is linked where a reader looks for it)")

for failure in failures:
    print(failure)
print(f"{len(documents)} documents checked, {len(failures)} failures")
sys.exit(1 if failures else 0)
