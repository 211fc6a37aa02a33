#!/usr/bin/env python3
"""Runs every example under examples/ that holds an expected-output.txt through the real updater.

Its installed/ folder (if any) is copied into a fresh temporary folder, where the updater runs
on the package the build packed from its package/ folder (<packages>/<name>.zip). The whole
standard output must equal expected-output.txt (@ROOT@ stands for the temporary folder,
@PACKAGE@ for the package), the exit status must be 0 and standard error empty. If
expected-tree.txt exists, the folder must then hold exactly the paths it lists ("name/" a
directory, "name == file" a file with the same bytes, "mode=0755" its permission bits).

An example with a trusted-comment.txt is signed: a fresh minisign key pair is made, a copy of
the updater gets the public key beside it (updater.pub), a copy of the package is signed with
that comment, and @KEYID@ in expected-output.txt stands for the key's ID.

The order of entries in a directory listing depends on the file system, so runs of consecutive
lines of one listing kind (selection, copy, remove, unzip lines) are compared as sets.
"""

import difflib
import filecmp
import os
import shutil
import sys
import time

from common import options, read, run, scratch, verdict

LISTING_KINDS = [("file=",), ('"',), ("Copy from ",), ("Remove file or directory ",),
                 ("Unzip file: ", "Skip unzip file")]


def normalise_order(lines):
    """Sorts each run of consecutive lines of one listing kind."""
    result, run_lines, run_kind = [], [], None
    for line in lines:
        kind = next((k for k in LISTING_KINDS if line.startswith(k)), None)
        if kind is None or kind != run_kind:
            result.extend(sorted(run_lines))
            run_lines, run_kind = [], kind
        if kind is None:
            result.append(line)
        else:
            run_lines.append(line)
    return result + sorted(run_lines)


def tree_problems(example_dir, root, tree_file):
    actual = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            full = os.path.join(folder, name)
            mark = "/" if name in dirs and not os.path.islink(full) else ""
            actual[os.path.relpath(full, root) + mark] = full
    lines = read(tree_file).splitlines()
    expected = {words[0]: words[1:] for words in map(str.split, lines) if words and not words[0].startswith("#")}
    problems = [f"missing: {name}" for name in sorted(set(expected) - set(actual))]
    problems += [f"unexpected: {name}" for name in sorted(set(actual) - set(expected))]
    for name, rule in sorted(expected.items()):
        full = actual.get(name)
        while full and rule:
            if rule[0] == "==" and len(rule) > 1:
                source = os.path.join(example_dir, rule[1])
                if not os.path.isfile(full) or not filecmp.cmp(full, source, shallow=False):
                    problems.append(f"content differs from {rule[1]}: {name}")
                rule = rule[2:]
            elif rule[0].startswith("mode="):
                mode = os.stat(full).st_mode & 0o7777
                if mode != int(rule[0][5:], 8):
                    problems.append(f"mode {mode:04o} instead of {rule[0][5:]}: {name}")
                rule = rule[1:]
            else:
                raise ValueError(f"{tree_file}: cannot read the line of {name}")
    return problems


def signed_setup(minisign, updater, package, comment_file, folder):
    """The updater copy with its trusted key, the signed package copy, and the key ID."""
    comment = read(comment_file).strip()
    os.mkdir(os.path.join(folder, "bin"))
    signed_updater = shutil.copy(updater, os.path.join(folder, "bin", "updater"))
    signed_package = shutil.copy(package, os.path.join(folder, os.path.basename(package)))
    public, secret = os.path.join(folder, "bin", "updater.pub"), os.path.join(folder, "key")
    for command in ([minisign, "-G", "-W", "-p", public, "-s", secret],
                    [minisign, "-S", "-s", secret, "-m", signed_package, "-t", comment]):
        result = run(command)
        if result.returncode != 0:
            raise RuntimeError(f"{' '.join(command)} failed: {result.stderr}")
    key_id = read(public).split("\n")[0].split()[-1].zfill(16)  # older minisign leaves out leading zeros
    return signed_updater, signed_package, key_id


def run_example(updater, example_dir, package, minisign):
    if not os.path.isfile(package):
        return [f"package {package} was not built"]
    expected_output = read(os.path.join(example_dir, "expected-output.txt"))
    with scratch("example") as folder:
        comment_file = os.path.join(example_dir, "trusted-comment.txt")
        if os.path.isfile(comment_file):
            updater, package, key_id = signed_setup(minisign, updater, package, comment_file, folder)
            expected_output = expected_output.replace("@KEYID@", key_id)
        root = os.path.join(os.path.realpath(folder), "app")
        installed = os.path.join(example_dir, "installed")
        if os.path.isdir(installed):
            shutil.copytree(installed, root, symlinks=True)
        else:
            os.mkdir(root)
        result = run([updater, package], cwd=root, timeout=120, errors="replace")
        output = result.stdout
        # Longest first, so that a path that contains another is replaced whole.
        for path, placeholder in sorted([(os.path.realpath(package), "@PACKAGE@"), (package, "@PACKAGE@"),
                                         (root, "@ROOT@")], key=lambda item: -len(item[0])):
            output = output.replace(path, placeholder)
        failures = [] if result.returncode == 0 else [f"exit status {result.returncode}, expected 0"]
        if normalise_order(output.split("\n")) != normalise_order(expected_output.split("\n")):
            diff = difflib.unified_diff(expected_output.splitlines(keepends=True),
                                        output.splitlines(keepends=True), "expected-output.txt", "stdout")
            failures.append("standard output differs:\n" + "".join(diff))
        if result.stderr:
            failures.append("standard error was not empty:\n" + result.stderr)
        tree_file = os.path.join(example_dir, "expected-tree.txt")
        if os.path.exists(tree_file):
            # A program started in the background may still be writing: give it a moment.
            deadline = time.monotonic() + 10
            while (problems := tree_problems(example_dir, root, tree_file)) and time.monotonic() < deadline:
                time.sleep(0.1)
            if problems:
                failures.append("files after the run:\n  " + "\n  ".join(problems))
    return failures


def main():
    args = options(__doc__, "updater", "examples", "packages", tools=("minisign",))
    names = sorted(n for n in os.listdir(args.examples)
                   if os.path.isfile(os.path.join(args.examples, n, "expected-output.txt")))
    failures, failed = [] if names else ["no example with an expected-output.txt found"], 0
    for name in names:
        found = run_example(os.path.abspath(args.updater), os.path.abspath(os.path.join(args.examples, name)),
                            os.path.abspath(os.path.join(args.packages, name + ".zip")), args.minisign)
        print(f"{'FAIL' if found else 'ok  '} {name}")
        failures += [f"{name}: {failure}" for failure in found]
        failed += bool(found)
    return verdict(failures, f"{len(names) - failed} of {len(names)} examples passed")


if __name__ == "__main__":
    sys.exit(main())
