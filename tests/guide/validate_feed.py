#!/usr/bin/python3
"""Checks a feed of nodletflash-guide --json, read on standard input, against its schema.

    validate_feed.py SCHEMA            as its writer must hold to it: every line one object of the
                                       schema, every field known, and the rules of a whole feed
    validate_feed.py --reader SCHEMA   as a reader takes it: events it does not know are passed
                                       over, and fields it does not know are dropped before an
                                       event is checked

Prints each line that does not hold, with why, and exits 1 if any."""
import json
import sys

import jsonschema


def event_definitions(schema):
    """The schema's definition of each event, by the event's name."""
    definitions = {}
    for branch in schema["oneOf"]:
        name = branch["$ref"].rsplit("/", 1)[1]
        definition = schema["$defs"][name]
        definitions[definition["properties"]["event"]["const"]] = definition
    return definitions


def as_reader_knows(event, schema, definitions):
    """|event| with only the fields the schema names for it; None for an event it does not know."""
    definition = definitions.get(event.get("event"))
    if definition is None:
        return None
    known = set(schema["$defs"]["envelope"]["properties"]) | set(definition["properties"])
    return {field: value for field, value in event.items() if field in known}


def whole_feed_problems(events):
    """The rules of a whole feed that no one object can state."""
    problems = []
    names = [event.get("event") for _, event in events]
    if not names or names[0] != "run" or names.count("run") != 1:
        problems.append("the feed does not begin with its one run event")
    if not names or names[-1] != "run-end" or names.count("run-end") != 1:
        problems.append("the feed does not end with its one run-end event")
    named = []
    ends = []
    set_named = False  # the run event names a firmware set
    total = {}  # a module's characters to send, from its summary
    for number, event in events:
        name = event.get("event")
        if name == "run":
            set_named = event.get("set") is not None
        if name == "run-end" and event.get("set_problems") is not None and not set_named:
            problems.append(f"line {number}: set_problems for a run that names no set")
        if name == "run" and isinstance(event.get("modules"), list):
            named = event["modules"]
        elif name == "summary":
            total[event.get("module")] = event.get("characters")
        elif name == "progress":
            if isinstance(event.get("characters"), int) and \
                    event["characters"] > event["total_characters"]:
                problems.append(f"line {number}: characters above total_characters")
        elif name == "end":
            ends.append(event)
            most = total.get(event.get("module"))
            if isinstance(most, int) and event.get("characters_sent", 0) > most:
                problems.append(f"line {number}: characters_sent above the summary's characters")
        elif name == "run-end" and isinstance(event.get("not_done"), list):
            if len(ends) != len(named):
                problems.append(f"{len(named)} modules named, {len(ends)} ends")
            else:
                not_done = [module for module, end in zip(named, ends) if end["outcome"] != "done"]
                if event["not_done"] != not_done:
                    problems.append(f"line {number}: not_done is not the modules whose end is "
                                    f"not done: {not_done}")
    return problems


def problems(lines, schema, reader=False):
    """What does not hold in the feed |lines| (its lines of text), as a writer or as a reader."""
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)
    # Each event against its own definition too, whose errors say more than "not one of them".
    by_event = {}
    for branch in schema["oneOf"]:
        name = schema["$defs"][branch["$ref"].rsplit("/", 1)[1]]["properties"]["event"]["const"]
        by_event[name] = jsonschema.Draft202012Validator(
            {"$defs": schema["$defs"], "$ref": branch["$ref"]})
    definitions = event_definitions(schema)
    version = schema["$defs"]["envelope"]["properties"]["v"]["const"]
    found = []
    events = []
    for number, line in enumerate(lines, 1):
        line = line.rstrip("\n")
        try:
            event = json.loads(line)
        except ValueError as error:
            found.append(f"line {number}: not JSON ({error}): {line}")
            continue
        if reader:
            if not isinstance(event, dict) or event.get("v") != version:
                found.append(f"line {number}: not an event of version {version}: {line}")
                continue
            event = as_reader_knows(event, schema, definitions)
            if event is None:
                continue
        chosen = by_event.get(event.get("event")) if isinstance(event, dict) else None
        errors = sorted((chosen or validator).iter_errors(event), key=lambda e: list(e.path))
        if chosen is not None and not errors:
            errors = list(validator.iter_errors(event))
        if errors:
            found.append(f"line {number}: {line}\n" +
                         "\n".join(f"  {error.message}" for error in errors))
        elif not reader:
            events.append((number, event))
    if not reader and not found:
        found.extend(whole_feed_problems(events))
    return found


def main():
    reader = sys.argv[1] == "--reader"
    with open(sys.argv[-1], encoding="utf-8") as f:
        schema = json.load(f)
    found = problems(sys.stdin, schema, reader)
    for problem in found:
        print(problem)
    sys.exit(1 if found else 0)


if __name__ == "__main__":
    main()
