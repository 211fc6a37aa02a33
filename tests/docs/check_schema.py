#!/usr/bin/env python3
"""Checks docs/manifest.schema.json against the manifests it must accept and reject.

It must be a valid draft-07 schema; it must accept every examples/*/package/manifest.json
and every ```json block of the documents (a block with "actions" as a manifest, any
other as one action); it must reject every file in the folder of broken manifests.
"""

import glob
import json
import os
import re
import sys

import jsonschema

from common import options, read, verdict


def main():
    args = options(__doc__, "schema", "examples", "broken", "doc", repeated=["doc"])
    schema = json.loads(read(args.schema))
    jsonschema.Draft7Validator.check_schema(schema)
    manifest = jsonschema.Draft7Validator(schema)
    action = jsonschema.Draft7Validator(dict(schema, **{"$ref": "#/definitions/action"}))

    examples = sorted(glob.glob(os.path.join(args.examples, "*", "package", "manifest.json")))
    broken = sorted(glob.glob(os.path.join(args.broken, "*.json")))
    problems = [f"no {what} found" for what, found in (("example", examples), ("broken manifest", broken)) if not found]
    accepted = [(path, manifest, json.loads(read(path))) for path in examples]  # (where, validator, value)
    for doc in args.doc:
        text = read(doc)
        blocks = list(re.finditer(r"^[ \t]*```json\n(.*?)^[ \t]*```", text, re.S | re.M))
        if not blocks:
            problems.append(f"no json block found in {doc}")
        for match in blocks:
            value = json.loads(match.group(1))
            where = f"{doc}:{text.count(chr(10), 0, match.start()) + 1}"
            accepted.append((where, manifest if isinstance(value, dict) and "actions" in value else action, value))
    for where, validator, value in accepted:
        problems += [f"{where}: rejected: {e.message} at {list(e.absolute_path)}" for e in validator.iter_errors(value)]
    problems += [f"{path}: accepted, but it is broken" for path in broken if manifest.is_valid(json.loads(read(path)))]
    return verdict(problems, f"{len(accepted)} manifests and snippets checked, {len(broken)} broken manifests "
                             f"checked, {len(problems)} problems")


if __name__ == "__main__":
    sys.exit(main())
