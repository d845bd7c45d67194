#!/usr/bin/env python3
"""Runs the JSON answer tests of orv and checks every answer they keep
against the answer schema with a JSON Schema (draft 2020-12) validator.

usage: validate_answers.py ANSWER_TEST_PROGRAM SCHEMA
Exit status 0 when the tests pass and every answer is valid, 77 when no
validator is installed (python3-jsonschema), 1 otherwise."""
import json
import os
import subprocess
import sys
import tempfile

try:
    import jsonschema
except ImportError:
    print("python3-jsonschema is not installed; skipped")
    sys.exit(77)

# The request kinds the answers must cover.
KINDS = {"create", "list", "show", "results", "delete", "delete_document", "config_show",
         "config_update", "pick_up", "send"}


def main():
    program, schema_path = sys.argv[1], sys.argv[2]
    with open(schema_path, encoding="utf-8") as f:
        schema = json.load(f)
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)
    with tempfile.TemporaryDirectory() as answers:
        env = dict(os.environ, ANSWERS_DIR=answers)
        run = subprocess.run([program], env=env)
        if run.returncode != 0:
            print(f"{program} failed with status {run.returncode}")
            return 1
        failed = 0
        kinds, outcomes = set(), set()
        names = sorted(os.listdir(answers))
        for name in names:
            with open(os.path.join(answers, name), "rb") as f:
                raw = f.read()
            try:
                answer = json.loads(raw.decode("utf-8"))
            except (UnicodeDecodeError, ValueError) as e:
                print(f"{name}: not JSON in UTF-8: {e}")
                failed += 1
                continue
            errors = sorted(validator.iter_errors(answer), key=lambda e: list(e.path))
            for e in errors:
                print(f"{name}: {'/'.join(map(str, e.path))}: {e.message}")
            failed += 1 if errors else 0
            kinds.add(answer["request"]["kind"])
            outcomes.add(answer["outcome"])
        missing = (KINDS - kinds) | ({"refused"} - outcomes)
        if missing:
            print(f"no answer of: {', '.join(sorted(missing))}")
            failed += 1
        print(f"{len(names)} answers checked, {failed} problems")
        return 1 if failed else 0


sys.exit(main())
