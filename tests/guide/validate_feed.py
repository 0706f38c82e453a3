#!/usr/bin/python3
"""Checks every line of nodletflash-guide --json read on standard input against the feed's
schema; prints each line that does not hold, with why, and exits 1 if any."""
import json
import sys

import jsonschema

with open(sys.argv[1], encoding="utf-8") as f:
    schema = json.load(f)
jsonschema.Draft202012Validator.check_schema(schema)
validator = jsonschema.Draft202012Validator(schema)
bad = 0
for number, line in enumerate(sys.stdin, 1):
    line = line.rstrip("\n")
    try:
        event = json.loads(line)
    except ValueError as error:
        print(f"line {number}: not JSON ({error}): {line}")
        bad += 1
        continue
    errors = sorted(validator.iter_errors(event), key=lambda e: e.path)
    if errors:
        bad += 1
        print(f"line {number}: {line}")
        for error in errors:
            print(f"  {error.message}")
sys.exit(1 if bad else 0)
