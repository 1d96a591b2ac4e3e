#!/usr/bin/env python3
"""Checks that the links of the README and the docs pages reach files of the project and, where they
name one, a heading of that file (as the Markdown hosts make heading anchors).

    python3 tests/docs/check_links.py SOURCE_DIR
"""
import glob
import os
import re
import sys

LINK = re.compile(r'\]\(([^)\s]+)\)|src="([^"]+)"')


def prose(path):
    """A Markdown file's text without its code blocks, whose lines are neither links nor headings."""
    with open(path, encoding="utf-8") as f:
        return re.sub(r"```.*?```", "", f.read(), flags=re.S)


def anchors(path):
    """The anchors of a Markdown file's headings: lower case, without punctuation, blanks as '-'."""
    return {re.sub(r"[^\w\- ]", "", h.strip().lower()).replace(" ", "-")
            for h in re.findall(r"^#+ (.*)$", prose(path), re.M)}


def main():
    root = sys.argv[1]
    pages = [os.path.join(root, "README.md")] + sorted(glob.glob(os.path.join(root, "docs", "*.md")))
    failures = 0
    for page in pages:
        for match in LINK.finditer(prose(page)):
            target = match.group(1) or match.group(2)
            if re.match(r"[a-z]+:", target):
                continue  # a web address
            path, _, anchor = target.partition("#")
            resolved = os.path.normpath(os.path.join(os.path.dirname(page), path)) if path else page
            where = "%s: %s" % (os.path.relpath(page, root), target)
            if not os.path.exists(resolved):
                print("FAIL %s: no such file" % where)
                failures += 1
            elif anchor and (not resolved.endswith(".md") or anchor not in anchors(resolved)):
                print("FAIL %s: no such heading" % where)
                failures += 1
    print("%d page(s), %d broken link(s)" % (len(pages), failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
