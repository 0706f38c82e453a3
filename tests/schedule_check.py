#!/usr/bin/env python3
"""Checks that the tests of a build tree may run side by side (ctest -j) without colliding.

    schedule_check.py BUILD_DIR [CTEST]

Reads the tests as ctest lists them (--show-only=json-v1) and fails when
- a test that boots a qemu guest may run beside another test: the guest's two processors take
  both cores, and the tool in it keeps real-time deadlines (RUN_SERIAL);
- two tests name the same place in the build tree that is not a plain file (a work or output
  folder, a cache, a prefix, in an argument, a -DNAME=VALUE or the environment) and nothing
  keeps them apart: a common RESOURCE_LOCK, RUN_SERIAL on either, one being the other's fixture
  set-up or clean-up, or a place made by the set-up of a fixture both require (the Wine prefix
  that every Wine test shares through one server).
"""
import itertools
import json
import os
import subprocess
import sys

GUEST_SCRIPTS = ("/tools/qemu-vcan/run.sh", "-test.sh")


def properties(test):
    return {p["name"]: p["value"] for p in test.get("properties", [])}


def as_list(value):
    return value if isinstance(value, list) else [value]


def places(test, build):
    """The folders (or paths not made yet) inside the build tree that a test names."""
    words = list(test.get("command", []))
    words += as_list(properties(test).get("ENVIRONMENT", []))
    found = set()
    for word in words:
        for part in [word, word.split("=", 1)[-1]]:
            path = os.path.normpath(part)
            # Files (made yet or not, like a package a fixture makes) are read, not shared.
            named_file = os.path.isfile(path) or (not os.path.isdir(path)
                                                  and os.path.splitext(path)[1] != "")
            if path.startswith(build + os.sep) and not named_file:
                found.add(path)
    return found


def boots_guest(test, source):
    for word in test.get("command", []):
        if word.startswith(source + "/tools/qemu-vcan/run.sh"):
            return True
        if word.startswith(source + "/tests/vcan/") and word.endswith(GUEST_SCRIPTS[1]):
            return True
    return False


def main():
    if len(sys.argv) not in (2, 3):
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    build = os.path.realpath(sys.argv[1])
    ctest = sys.argv[2] if len(sys.argv) == 3 else "ctest"
    listing = subprocess.run([ctest, "--show-only=json-v1"], cwd=build, check=True,
                             capture_output=True, text=True).stdout
    tests = json.loads(listing)["tests"]
    with open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8") as cache:
        source = next(line.split("=", 1)[1].strip() for line in cache
                      if line.startswith("CMAKE_HOME_DIRECTORY:"))

    problems = []
    props = {t["name"]: properties(t) for t in tests}
    named = {t["name"]: places(t, build) for t in tests}
    setups = {}
    for name, p in props.items():
        for fixture in as_list(p.get("FIXTURES_SETUP", [])):
            setups.setdefault(fixture, set()).update(named[name])

    for test in tests:
        if boots_guest(test, source) and not props[test["name"]].get("RUN_SERIAL"):
            problems.append(f"{test['name']} boots a qemu guest but may run beside other tests")

    def apart(a, b, place):
        pa, pb = props[a], props[b]
        if pa.get("RUN_SERIAL") or pb.get("RUN_SERIAL"):
            return True
        if set(as_list(pa.get("RESOURCE_LOCK", []))) & set(as_list(pb.get("RESOURCE_LOCK", []))):
            return True
        for x, px, y, py in ((a, pa, b, pb), (b, pb, a, pa)):
            mine = set(as_list(px.get("FIXTURES_SETUP", []))) | set(
                as_list(px.get("FIXTURES_CLEANUP", [])))
            if mine & set(as_list(py.get("FIXTURES_REQUIRED", []))):
                return True
        shared = set(as_list(pa.get("FIXTURES_REQUIRED", []))) & set(
            as_list(pb.get("FIXTURES_REQUIRED", [])))
        return any(place in setups.get(f, set()) for f in shared)

    for a, b in itertools.combinations(sorted(named), 2):
        for place in sorted(named[a] & named[b]):
            if not apart(a, b, place):
                problems.append(f"{a} and {b} both use {place} and may run at the same time")

    for problem in problems:
        print("FAIL:", problem)
    print(f"{len(tests)} tests, {len(problems)} that may collide")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
