"""Counts of a JUnit XML report, pytest's (--junitxml) or ctest's (--output-junit).

    python tools/junit.py LABEL REPORT

prints "LABEL: N passed, N failed, N skipped", then one line per skipped
test with its reason and one per test that was run again, and exits 1 when a
test failed or the report is missing. Needs the standard library alone.

A test run again after a failure (pytest-rerunfailures under wine) appears
once per run; its last run is its outcome.
"""

import sys
import xml.etree.ElementTree as ElementTree


def last_runs(path):
    """Each test's last testcase element, and the names of those run more than once."""
    runs = {}
    for case in ElementTree.parse(path).getroot().iter("testcase"):
        runs.setdefault((case.get("classname"), case.get("name")), []).append(case)
    again = [f"{classname}::{name}" for (classname, name), cases in runs.items() if len(cases) > 1]
    return [cases[-1] for cases in runs.values()], again


def read_junit(path):
    """(passed, failed, skipped reasons, names run again) from a JUnit XML report."""
    passed, failed, skipped = 0, 0, []
    cases, again = last_runs(path)
    for case in cases:
        outcome = {child.tag for child in case} & {"failure", "error", "skipped"}
        if not outcome:
            passed += 1
        elif outcome == {"skipped"}:
            skip = case.find("skipped")
            reason = skip.get("message", "")
            if reason == "collection skipped":  # a whole module: (file, line, reason)
                reason = skip.text.rsplit(", ", 1)[-1].strip(" ')\"")
            reason = reason.removeprefix("Skipped: ")
            # ctest writes a test's name as its class name too.
            names = dict.fromkeys(filter(None, (case.get("classname"), case.get("name"))))
            skipped.append(f"{'::'.join(names)}: {reason}")
        else:
            failed += 1
    return passed, failed, skipped, again


def main(label, report):
    try:
        passed, failed, skipped, again = read_junit(report)
    except (OSError, ElementTree.ParseError) as error:
        print(f"{label}: no report ({error})")
        return 1
    print(f"{label}: {passed} passed, {failed} failed, {len(skipped)} skipped")
    for reason in skipped:
        print(f"  skipped {reason}")
    for name in again:
        print(f"  run again after a failure: {name}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
