#!/usr/bin/env python3
"""Keeps the dependencies between the program's folders one-way.

Reads every `#include "..."` line of the C and C++ files in the product folders, finds the
folder that holds the included header, and fails on any include from one folder into another
that docs/dependencies.txt does not allow. It does the same for the libraries named on the
`target_link_libraries` lines of the product folders' CMakeLists.txt: a library may link only
the libraries of folders its own folder may use.

Usage: check_dependencies.py SOURCE_DIR [TABLE]
Exit status 0 when every dependency is allowed, 1 when one is not, 2 when the table is bad.
"""

import os
import re
import sys

SOURCE_SUFFIXES = (".c", ".cc", ".cpp", ".cxx", ".h", ".hh", ".hpp", ".hxx", ".inl")
HEADER_SUFFIXES = (".h", ".hh", ".hpp", ".hxx", ".inl")
SKIPPED_DIRS = {".git", "node_modules", "__pycache__"}

INCLUDE_RE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
ADD_TARGET_RE = re.compile(r"\badd_(?:library|executable)\s*\(\s*([A-Za-z0-9_.+-]+)", re.IGNORECASE)
LINK_RE = re.compile(r"\btarget_link_libraries\s*\(([^)]*)\)", re.IGNORECASE | re.DOTALL)
LINK_KEYWORDS = {"PUBLIC", "PRIVATE", "INTERFACE", "LINK_PUBLIC", "LINK_PRIVATE", "LINK_INTERFACE_LIBRARIES"}


def read_table(path):
    """The table: `folder: folders it may use` per line; '#' starts a comment."""
    allowed = {}
    with open(path, encoding="utf-8") as table:
        for number, raw in enumerate(table, 1):
            line = raw.split("#", 1)[0].strip()
            if not line:
                continue
            if ":" not in line:
                raise ValueError(f"{path}:{number}: expected 'folder: folders it may use'")
            folder, uses = line.split(":", 1)
            folder = folder.strip().strip("/")
            if folder in allowed:
                raise ValueError(f"{path}:{number}: {folder} is listed twice")
            allowed[folder] = {u.strip("/") for u in uses.split()}
    for folder, uses in allowed.items():
        for used in uses - {"*"}:
            if used not in allowed:
                raise ValueError(f"{path}: {folder} may use {used}, which is not a folder of the table")
    return allowed


def may_use(allowed, own, used):
    uses = allowed.get(own, set())
    return used == own or "*" in uses or used in uses


def folder_of(relpath, folders):
    """The table's folder holding `relpath`: the longest folder that is a prefix of it."""
    best = None
    for folder in folders:
        if relpath == folder or relpath.startswith(folder + "/"):
            if best is None or len(folder) > len(best):
                best = folder
    return best


def walk(root, top):
    for directory, dirs, files in os.walk(os.path.join(root, top)):
        dirs[:] = sorted(d for d in dirs if d not in SKIPPED_DIRS and not d.startswith("build"))
        for name in sorted(files):
            yield os.path.relpath(os.path.join(directory, name), root).replace(os.sep, "/")


def main(argv):
    if len(argv) not in (2, 3):
        print(__doc__.strip().splitlines()[-2], file=sys.stderr)
        return 2
    root = os.path.abspath(argv[1])
    table_path = argv[2] if len(argv) == 3 else os.path.join(root, "docs", "dependencies.txt")
    try:
        allowed = read_table(table_path)
    except (OSError, ValueError) as error:
        print(f"dependency table: {error}", file=sys.stderr)
        return 2
    folders = sorted(allowed)
    tops = sorted({f.split("/", 1)[0] for f in folders})
    for top in tops:
        if not os.path.isdir(os.path.join(root, top)):
            print(f"dependency table: folder {top} is not in {root}", file=sys.stderr)
            return 2

    # Every header by its path from the source root, and by each trailing part of that path, so
    # that "x11/Display.h" and "Display.h" both find platform/x11/Display.h.
    headers = {}
    sources = []
    for top in tops:
        for rel in walk(root, top):
            if rel.endswith(HEADER_SUFFIXES):
                parts = rel.split("/")
                for i in range(len(parts)):
                    headers.setdefault("/".join(parts[i:]), []).append(rel)
            if rel.endswith(SOURCE_SUFFIXES):
                sources.append(rel)

    problems = []
    checked = 0
    for rel in sources:
        own = folder_of(rel, folders)
        if own is None:
            continue
        with open(os.path.join(root, rel), encoding="utf-8", errors="replace") as source:
            for number, line in enumerate(source, 1):
                match = INCLUDE_RE.match(line)
                if not match:
                    continue
                name = os.path.normpath(match.group(1)).replace(os.sep, "/")
                beside = os.path.normpath(os.path.join(os.path.dirname(rel), name)).replace(os.sep, "/")
                if os.path.isfile(os.path.join(root, beside)):
                    candidates = [beside]
                else:
                    candidates = headers.get(name, [])
                if not candidates:
                    continue  # a generated header, or one of a system library
                checked += 1
                targets = {folder_of(c, folders) for c in candidates}
                if own in targets:
                    continue  # the folder's own header (also when another folder has one of that name)
                for target in sorted(targets):
                    if not may_use(allowed, own, target):
                        problems.append(f"{rel}:{number}: {own} -> {target}: includes \"{match.group(1)}\""
                                        f" ({', '.join(c for c in candidates if folder_of(c, folders) == target)})")

    # The libraries each product folder defines, and what their target_link_libraries lines name.
    cmake_files = [rel for top in tops for rel in walk(root, top) if rel.endswith("CMakeLists.txt")]
    texts = {}
    owner = {}
    for rel in cmake_files:
        with open(os.path.join(root, rel), encoding="utf-8") as cmake:
            text = re.sub(r"#[^\n]*", "", cmake.read())
        texts[rel] = text
        folder = folder_of(os.path.dirname(rel), folders)
        for target in ADD_TARGET_RE.findall(text):
            if folder is not None:
                owner[target] = folder
    links = 0
    for rel, text in texts.items():
        for match in LINK_RE.finditer(text):
            words = match.group(1).split()
            if not words or words[0] not in owner:
                continue
            target, own = words[0], owner[words[0]]
            line = text.count("\n", 0, match.start()) + 1
            for item in words[1:]:
                if item in LINK_KEYWORDS or item not in owner:
                    continue
                links += 1
                used = owner[item]
                if not may_use(allowed, own, used):
                    problems.append(f"{rel}:{line}: {own} -> {used}: {target} links {item}")

    if problems:
        print(f"{len(problems)} dependencies against {os.path.relpath(table_path, root)}:")
        for problem in problems:
            print("  " + problem)
        return 1
    print(f"{len(sources)} files, {checked} includes of the program's own headers and {links} links"
          f" between its libraries: every one follows {os.path.relpath(table_path, root)}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
