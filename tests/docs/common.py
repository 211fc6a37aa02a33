"""What the documentation checks share: options, commands, a scratch folder, the verdict."""

import argparse
import contextlib
import shutil
import subprocess
import tempfile


def options(doc, *names, repeated=(), tools=(), choices=None):
    """Parses the required --NAME options (those in `repeated` may be given more than once)
    and the optional --TOOL ones, each naming a program found on the PATH by default."""
    parser = argparse.ArgumentParser(description=doc.splitlines()[0])
    if choices:
        parser.add_argument("check", choices=choices)
    for name in names:
        parser.add_argument("--" + name, required=True, action="append" if name in repeated else "store")
    for tool in tools:
        parser.add_argument("--" + tool, default=tool)
    return parser.parse_args()


def run(command, **kwargs):
    kwargs.setdefault("timeout", 600)
    return subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True, **kwargs)


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


@contextlib.contextmanager
def scratch(name):
    folder = tempfile.mkdtemp(prefix=f"updater-{name}-")
    try:
        yield folder
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def verdict(problems, summary):
    """Prints each problem and the summary; the exit status is 1 when there was a problem."""
    for problem in problems:
        print("  " + problem.replace("\n", "\n  "))
    print(summary)
    return 1 if problems else 0
