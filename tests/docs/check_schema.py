#!/usr/bin/env python3
"""Checks docs/manifest.schema.json against the manifests it must accept and reject.

  * the schema itself must be a valid JSON Schema (draft-07);
  * every examples/*/package/manifest.json must be accepted;
  * every ```json block of the documents (docs/manifest.md, README.md) must be
    accepted: a block with an "actions" member as a whole manifest, a block
    with a "type" member as one action;
  * every file in the folder of broken manifests must be rejected.

Exit status 0 when all of that holds, 1 otherwise (each problem is printed).
"""

import argparse
import glob
import json
import os
import re
import sys

import jsonschema


def load(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def doc_blocks(markdown_path):
    """Yields (line number, parsed value) for every ```json block of the document."""
    with open(markdown_path, encoding="utf-8") as f:
        text = f.read()
    for match in re.finditer(r"^[ \t]*```json\n(.*?)^[ \t]*```", text, re.S | re.M):
        line = text.count("\n", 0, match.start()) + 1
        yield line, json.loads(match.group(1))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--schema", required=True)
    parser.add_argument("--examples", required=True, help="the examples/ folder")
    parser.add_argument("--broken", required=True, help="folder of manifests the schema must reject")
    parser.add_argument("--doc", required=True, action="append", help="a Markdown document (repeatable)")
    args = parser.parse_args()

    schema = load(args.schema)
    jsonschema.Draft7Validator.check_schema(schema)
    manifest = jsonschema.Draft7Validator(schema)
    action = jsonschema.Draft7Validator(dict(schema, **{"$ref": "#/definitions/action"}))

    problems = []
    accepted = rejected = 0

    examples = sorted(glob.glob(os.path.join(args.examples, "*", "package", "manifest.json")))
    if not examples:
        problems.append(f"no example manifest found under {args.examples}")
    for path in examples:
        errors = list(manifest.iter_errors(load(path)))
        for error in errors:
            problems.append(f"{path}: rejected: {error.message} at {list(error.absolute_path)}")
        accepted += not errors

    blocks = []
    for doc in args.doc:
        found = [(doc, line, value) for line, value in doc_blocks(doc)]
        if not found:
            problems.append(f"no json block found in {doc}")
        blocks += found
    for doc, line, value in blocks:
        validator = manifest if isinstance(value, dict) and "actions" in value else action
        errors = list(validator.iter_errors(value))
        for error in errors:
            problems.append(f"{doc}:{line}: rejected: {error.message} at {list(error.absolute_path)}")
        accepted += not errors

    broken = sorted(glob.glob(os.path.join(args.broken, "*.json")))
    if not broken:
        problems.append(f"no broken manifest found under {args.broken}")
    for path in broken:
        if manifest.is_valid(load(path)):
            problems.append(f"{path}: accepted, but it is broken")
        else:
            rejected += 1

    for problem in problems:
        print(problem)
    print(f"{accepted} manifests and snippets accepted, {rejected} broken manifests rejected, "
          f"{len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
