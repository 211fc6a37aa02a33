#!/usr/bin/env python3
"""Runs every example under examples/ through the real updater and checks it.

An example folder examples/<name>/ takes part when it holds expected-output.txt.
For each one:
  * its installed/ folder (if any) is copied into a fresh temporary folder, the
    "installed application" the update is applied to;
  * the updater runs there on the package that the build packed from
    examples/<name>/package/ (<packages>/<name>.zip), with the arguments in
    examples/<name>/arguments (one a line) if that file exists;
  * its whole standard output must equal expected-output.txt, with @ROOT@ for
    the temporary folder and @PACKAGE@ for the package path, and its exit
    status must equal expected-status (0 when that file is absent);
  * if expected-tree.txt exists, the temporary folder must hold exactly the
    paths it lists, with the listed contents and permission bits.

The order in which a directory lists its entries depends on the file system,
so runs of consecutive lines that come from such listings (selection log
entries, copy and remove lines, unzip lines) are compared as sets; everything
else, including how many lines each run has, is compared exactly.

Exit status 0 when every example passed, 1 otherwise; each failure is printed
with a diff.
"""

import argparse
import difflib
import filecmp
import os
import shutil
import subprocess
import sys
import tempfile
import time

# Line kinds whose relative order within one run comes from a directory listing
# or from the packing order of the archive.
LISTING_KINDS = [
    ("selection", ("file=",)),
    ("exclusion", ('"',)),
    ("copy", ("Copy from ",)),
    ("remove", ("Remove file or directory ",)),
    ("unzip", ("Unzip file: ", "Skip unzip file")),
]


def line_kind(line):
    for kind, prefixes in LISTING_KINDS:
        if line.startswith(prefixes):
            return kind
    return None


def normalise_order(lines):
    """Sorts each run of consecutive lines of one listing kind."""
    result, run, run_kind = [], [], None
    for line in lines:
        kind = line_kind(line)
        if kind is not None and kind == run_kind:
            run.append(line)
            continue
        result.extend(sorted(run))
        run, run_kind = ([line], kind) if kind is not None else ([], None)
        if kind is None:
            result.append(line)
    result.extend(sorted(run))
    return result


def substitute(text, replacements):
    # Longest first, so that a path that contains another is replaced whole.
    for path, placeholder in sorted(replacements, key=lambda item: -len(item[0])):
        text = text.replace(path, placeholder)
    return text


def read_tree(root):
    """Maps every path below root (relative, directories ending in /) to its full path."""
    tree = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs:
            full = os.path.join(folder, name)
            tree[os.path.relpath(full, root) + ("" if os.path.islink(full) else "/")] = full
        for name in files:
            full = os.path.join(folder, name)
            tree[os.path.relpath(full, root)] = full
    return tree


def parse_expected_tree(path):
    entries = {}
    with open(path, encoding="utf-8") as f:
        for raw in f:
            line = raw.strip()
            if not line or line.startswith("#"):
                continue
            words = line.split()
            name, rule = words[0], {"source": None, "mode": None}
            rest = words[1:]
            while rest:
                if rest[0] == "==" and len(rest) > 1:
                    rule["source"], rest = rest[1], rest[2:]
                elif rest[0].startswith("mode="):
                    rule["mode"], rest = int(rest[0][5:], 8), rest[1:]
                else:
                    raise ValueError(f"{path}: cannot read line: {raw!r}")
            entries[name] = rule
    return entries


def tree_problems(example_dir, root, expected):
    actual = read_tree(root)
    problems = []
    for name in sorted(set(expected) - set(actual)):
        problems.append(f"missing: {name}")
    for name in sorted(set(actual) - set(expected)):
        problems.append(f"unexpected: {name}")
    for name, rule in sorted(expected.items()):
        full = actual.get(name)
        if full is None:
            continue
        if rule["source"] is not None:
            source = os.path.join(example_dir, rule["source"])
            if not os.path.isfile(full) or not filecmp.cmp(full, source, shallow=False):
                problems.append(f"content differs from {rule['source']}: {name}")
        if rule["mode"] is not None:
            mode = os.stat(full).st_mode & 0o7777
            if mode != rule["mode"]:
                problems.append(f"mode {mode:04o} instead of {rule['mode']:04o}: {name}")
    return problems


def run_example(updater, example_dir, package):
    name = os.path.basename(example_dir)
    failures = []
    if not os.path.isfile(package):
        return [f"package {package} was not built"]
    arguments = [package]
    arguments_file = os.path.join(example_dir, "arguments")
    if os.path.exists(arguments_file):
        with open(arguments_file, encoding="utf-8") as f:
            arguments = [line.rstrip("\n").replace("@PACKAGE@", package) for line in f if line.strip()]
    status_file = os.path.join(example_dir, "expected-status")
    expected_status = 0
    if os.path.exists(status_file):
        with open(status_file, encoding="utf-8") as f:
            expected_status = int(f.read().strip())
    with open(os.path.join(example_dir, "expected-output.txt"), encoding="utf-8") as f:
        expected_output = f.read()

    scratch = tempfile.mkdtemp(prefix=f"updater-example-{name}-")
    try:
        root = os.path.join(os.path.realpath(scratch), "app")
        installed = os.path.join(example_dir, "installed")
        if os.path.isdir(installed):
            shutil.copytree(installed, root, symlinks=True)
        else:
            os.mkdir(root)
        result = subprocess.run([updater] + arguments, cwd=root, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        output = result.stdout.decode("utf-8", errors="replace")
        output = substitute(output, [(os.path.realpath(package), "@PACKAGE@"), (package, "@PACKAGE@"),
                                     (root, "@ROOT@")])
        if result.returncode != expected_status:
            failures.append(f"exit status {result.returncode}, expected {expected_status}")
        if normalise_order(output.split("\n")) != normalise_order(expected_output.split("\n")):
            diff = difflib.unified_diff(expected_output.splitlines(keepends=True),
                                        output.splitlines(keepends=True), "expected-output.txt", "stdout")
            failures.append("standard output differs:\n" + "".join(diff))
        if result.stderr:
            failures.append("standard error was not empty:\n" + result.stderr.decode("utf-8", "replace"))

        tree_file = os.path.join(example_dir, "expected-tree.txt")
        if os.path.exists(tree_file):
            expected_tree = parse_expected_tree(tree_file)
            # A program started in the background may still be writing: give it a moment.
            deadline = time.monotonic() + 10
            problems = tree_problems(example_dir, root, expected_tree)
            while problems and time.monotonic() < deadline:
                time.sleep(0.1)
                problems = tree_problems(example_dir, root, expected_tree)
            if problems:
                failures.append("files after the run:\n  " + "\n  ".join(problems))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    return failures


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--updater", required=True, help="the updater executable")
    parser.add_argument("--examples", required=True, help="the examples/ source folder")
    parser.add_argument("--packages", required=True, help="folder holding the packed <name>.zip files")
    parser.add_argument("--only", action="append", help="run only this example (repeatable)")
    args = parser.parse_args()

    updater = os.path.abspath(args.updater)
    names = sorted(n for n in os.listdir(args.examples)
                   if os.path.isfile(os.path.join(args.examples, n, "expected-output.txt")))
    if args.only:
        names = [n for n in names if n in args.only]
    if not names:
        print("no example with an expected-output.txt found")
        return 1
    failed = 0
    for name in names:
        example_dir = os.path.abspath(os.path.join(args.examples, name))
        package = os.path.abspath(os.path.join(args.packages, name + ".zip"))
        failures = run_example(updater, example_dir, package)
        print(f"{'FAIL' if failures else 'ok  '} {name}")
        for failure in failures:
            print("  " + failure.replace("\n", "\n  "))
        failed += bool(failures)
    print(f"{len(names) - failed} of {len(names)} examples passed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
