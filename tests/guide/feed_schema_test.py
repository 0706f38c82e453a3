#!/usr/bin/python3
"""The feed's schema holds its writer to what can happen, lets a reader pass over what it does
not know, and every feed shown in the document for programs and the manual page holds to it.

    feed_schema_test.py SCHEMA DOCUMENT MANUAL_PAGE"""
import copy
import importlib.util
import json
import os
import re
import sys
import unittest

sys.dont_write_bytecode = True  # nothing left in the source tree
HERE = os.path.dirname(os.path.abspath(__file__))
validator_source = importlib.util.spec_from_file_location(
    "validate_feed", os.path.join(HERE, "validate_feed.py"))
validate_feed = importlib.util.module_from_spec(validator_source)
validator_source.loader.exec_module(validate_feed)

SCHEMA_PATH, DOCUMENT_PATH, MANUAL_PATH = sys.argv[1:4]
with open(SCHEMA_PATH, encoding="utf-8") as f:
    SCHEMA = json.load(f)
with open(DOCUMENT_PATH, encoding="utf-8") as f:
    DOCUMENT = f.read()
with open(MANUAL_PATH, encoding="utf-8") as f:
    MANUAL = f.read()


def shown_feeds():
    """The document's feeds: each fenced block of jsonl, as its lines."""
    return [block.strip("\n").split("\n")
            for block in re.findall(r"```jsonl\n(.*?)```", DOCUMENT, re.S)]


def whole(lines):
    return json.loads(lines[0])["event"] == "run" and json.loads(lines[-1])["event"] == "run-end"


def first_whole_feed(holding):
    """The first whole feed of the document with an event for which |holding| is true."""
    for lines in shown_feeds():
        if whole(lines) and any(holding(json.loads(line)) for line in lines):
            return [json.loads(line) for line in lines]
    raise AssertionError("the document shows no such feed")


def problems(events, reader=False):
    lines = [json.dumps(event, separators=(",", ":")) for event in events]
    return validate_feed.problems(lines, SCHEMA, reader)


def index_of(events, holding):
    return next(i for i, event in enumerate(events) if holding(event))


class ShownFeeds(unittest.TestCase):
    def test_every_feed_the_document_shows_holds_to_the_schema(self):
        feeds = shown_feeds()
        self.assertGreaterEqual(len(feeds), 5)
        for lines in feeds:
            if whole(lines):
                self.assertEqual(validate_feed.problems(lines, SCHEMA), [], lines[0])
            else:
                # An excerpt: each object on its own.
                for line in lines:
                    found = validate_feed.problems([line], SCHEMA)
                    self.assertEqual([p for p in found if p.startswith("line")], [], line)

    def test_every_event_the_manual_page_shows_holds_to_the_schema(self):
        shown = [line for line in MANUAL.split("\n") if line.startswith('{"v":')]
        self.assertGreaterEqual(len(shown), 5)
        for line in shown:
            found = validate_feed.problems([line], SCHEMA)
            self.assertEqual([p for p in found if p.startswith("line")], [], line)

    def test_the_document_shows_every_way_a_module_ends(self):
        ends = {json.loads(line)["outcome"] for lines in shown_feeds() if whole(lines)
                for line in lines if json.loads(line)["event"] == "end"}
        self.assertEqual(ends, {"done", "failed", "refused", "not-started", "interrupted",
                                "skipped"})


class WritersSchema(unittest.TestCase):
    """Each rule of the writers' schema refuses what breaks it."""

    def setUp(self):
        self.done = first_whole_feed(lambda e: e.get("outcome") == "done")
        self.assertEqual(problems(self.done), [])

    def broken(self, events, holding, change):
        events = copy.deepcopy(events)
        change(events[index_of(events, holding)])
        return problems(events)

    def test_an_end_must_hold_what_its_outcome_allows(self):
        is_end = lambda e: e["event"] == "end"
        self.assertTrue(self.broken(self.done, is_end, lambda e: e.update(holds="unchanged")))
        skipped = first_whole_feed(lambda e: e.get("outcome") == "skipped")
        self.assertTrue(self.broken(skipped, lambda e: e.get("outcome") == "skipped",
                                    lambda e: e.update(holds="written")))
        refused = first_whole_feed(lambda e: e.get("outcome") == "refused")
        self.assertTrue(self.broken(refused, lambda e: e.get("outcome") == "refused",
                                    lambda e: e.update(holds="part-way")))
        # Nothing of the file reaches a module that holds what it had, or may be erased.
        self.assertTrue(self.broken(self.done, is_end,
                                    lambda e: e.update(outcome="failed", status=1,
                                                       holds="may-be-erased")))

    def test_characters_are_never_above_their_total(self):
        self.assertTrue(self.broken(self.done, lambda e: e["event"] == "progress",
                                    lambda e: e.update(characters=e["total_characters"] + 1)))
        self.assertTrue(self.broken(self.done, lambda e: e["event"] == "end",
                                    lambda e: e.update(characters_sent=e["characters_sent"] + 1)))

    def test_a_deadline_is_never_left_out_nor_null(self):
        asked = lambda e: e.get("phase") == "asked"
        self.assertTrue(self.broken(self.done, asked, lambda e: e.update(off_by_t=None)))
        self.assertTrue(self.broken(self.done, asked, lambda e: e.pop("on_by_t")))
        self.assertTrue(self.broken(self.done, asked, lambda e: e.pop("instruction_t")))

    def test_a_field_or_event_it_does_not_name_is_refused(self):
        self.assertTrue(self.broken(self.done, lambda e: e["event"] == "end",
                                    lambda e: e.update(touched="fully")))
        events = copy.deepcopy(self.done)
        events.insert(1, {"v": 3, "t": 0.0, "module": None, "event": "weather"})
        self.assertTrue(problems(events))

    def test_a_refused_set_starts_nothing_and_is_named_in_the_run(self):
        refused = first_whole_feed(lambda e: e.get("set_problems"))
        self.assertEqual(problems(refused), [])
        is_end = lambda e: e["event"] == "run-end"
        self.assertTrue(self.broken(refused, is_end, lambda e: e.update(status=0)))
        self.assertTrue(self.broken(refused, is_end, lambda e: e.update(set_problems=[])))
        self.assertTrue(self.broken(refused, lambda e: e["event"] == "run",
                                    lambda e: e.update(set=None)))

    def test_the_run_begins_and_ends_the_feed(self):
        self.assertTrue(problems(self.done[1:]))
        self.assertTrue(problems(self.done[:-1]))
        # Its end says what was not done, as the modules' ends do.
        self.assertTrue(self.broken(self.done, lambda e: e["event"] == "end",
                                    lambda e: e.update(outcome="interrupted", status=130)))


class ReadersRule(unittest.TestCase):
    def test_a_reader_passes_over_fields_and_events_it_does_not_know(self):
        events = first_whole_feed(lambda e: e.get("outcome") == "done")
        later = copy.deepcopy(events)
        later[index_of(later, lambda e: e["event"] == "end")]["weather"] = "fair"
        later.insert(1, {"v": 3, "t": 0.0, "module": None, "event": "weather", "sky": "clear"})
        self.assertTrue(problems(later))  # the writers' schema does not name them
        self.assertEqual(problems(later, reader=True), [])

    def test_a_reader_still_checks_what_it_knows(self):
        events = first_whole_feed(lambda e: e.get("outcome") == "done")
        wrong = copy.deepcopy(events)
        wrong[index_of(wrong, lambda e: e["event"] == "end")]["holds"] = "somewhat"
        self.assertTrue(problems(wrong, reader=True))
        other = copy.deepcopy(events)
        other[0]["v"] = 4
        self.assertTrue(problems(other, reader=True))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
