#!/usr/bin/env python3
"""Adds up the test results of every layer and prints "N passed, N failed".

Each results folder holds ctest's JUnit file (ctest.xml; further runs of ctest into the same folder write
ctest-NAME.xml) and one GoogleTest XML file per test program.
A program counts with its GoogleTest cases; a ctest test without such a file (a script, or a program that
died before writing it) counts as one case. A program that failed although its cases passed counts one
failure more. A fuzz-results folder holds a one-word status file. A folder that the virtual machine
(scripts/vm) filled holds vm-status: a machine that crashed or timed out ("crash", "timeout") counts one
failure, unless a missing or unusable ctest file of that folder already counts for it.

Nothing in a results folder stops the count: a missing, truncated or garbled ctest.xml counts as one failure
of its folder, and a GoogleTest file that cannot be read (a program that crashed while writing it) as one
failure of its program; both are named on stderr. The closing line always appears, and the exit status is
non-zero when anything failed.
"""
import glob
import os
import sys
import xml.etree.ElementTree as ET


class Unreadable(Exception):
    """A results file that is missing, truncated or not what it should be."""


def read_xml(path, root_tag):
    try:
        root = ET.parse(path).getroot()
    except FileNotFoundError:
        raise Unreadable(f"{path} is missing")
    except (ET.ParseError, OSError, UnicodeError) as error:
        raise Unreadable(f"{path} cannot be read: {error}")
    if root.tag != root_tag:
        raise Unreadable(f"{path} is no {root_tag} file (its root is <{root.tag}>)")
    return root


def count_attribute(root, name, path):
    try:
        value = int(root.get(name, 0))
    except ValueError:
        raise Unreadable(f"{path}: {name}={root.get(name)!r} is no number")
    if value < 0:
        raise Unreadable(f"{path}: {name}={value} is negative")
    return value


def count_program(name, gtest, ctest_failed):
    """Passed and failed cases of one program with a GoogleTest file."""
    try:
        root = read_xml(gtest, "testsuites")
        tests = count_attribute(root, "tests", gtest) - count_attribute(root, "disabled", gtest)
        bad = count_attribute(root, "failures", gtest) + count_attribute(root, "errors", gtest)
        skipped = count_attribute(root, "skipped", gtest)
    except Unreadable as error:
        print(f"{name}: failed, its results are unusable: {error}", file=sys.stderr)
        return 0, 1
    if ctest_failed and bad == 0:
        bad = 1
        print(f"{name}: the program failed although its cases passed", file=sys.stderr)
    return max(tests - bad - skipped, 0), bad


def vm_lost(folder):
    """Whether the virtual machine that filled the folder crashed or timed out (named on stderr)."""
    path = os.path.join(folder, "vm-status")
    if not os.path.exists(path):
        return False
    with open(path, encoding="utf-8", errors="replace") as file:
        outcome = file.read().strip()
    if outcome.startswith("exit "):
        return False
    print(f"{folder}: the virtual machine ended by {outcome or 'an unknown cause'}", file=sys.stderr)
    return True


def count_folder(folder):
    passed = failed = 0
    cases = []
    junits = sorted(glob.glob(os.path.join(folder, "ctest*.xml"))) or [os.path.join(folder, "ctest.xml")]
    for junit in junits:
        try:
            found = list(read_xml(junit, "testsuite").iter("testcase"))
        except Unreadable as error:
            print(f"no results in {folder}: {error}", file=sys.stderr)
            failed += 1
            continue
        if not found:
            print(f"no results in {folder}: {junit} lists no test", file=sys.stderr)
            failed += 1
        cases += found
    if vm_lost(folder) and failed == 0:
        failed = 1
    for case in cases:
        name = case.get("name") or "(a test without a name)"
        ctest_failed = case.get("status") not in (None, "run") or case.find("failure") is not None
        gtest = os.path.join(folder, f"{name}.xml")
        if os.path.exists(gtest):
            p, f = count_program(name, gtest, ctest_failed)
        elif ctest_failed:
            p, f = 0, 1
            print(f"{name}: failed", file=sys.stderr)
        else:
            p, f = 1, 0
        passed += p
        failed += f
    return passed, failed


def count_status(status):
    try:
        with open(status, encoding="utf-8", errors="replace") as file:
            ok = file.read().strip() == "pass"
    except OSError as error:
        print(f"{status} cannot be read: {error}", file=sys.stderr)
        ok = False
    if not ok:
        print(f"{os.path.dirname(status)}: failed", file=sys.stderr)
    return (1, 0) if ok else (0, 1)


def main():
    passed = failed = 0
    for folder in sys.argv[1:]:
        status = os.path.join(folder, "status")
        p, f = count_status(status) if os.path.exists(status) else count_folder(folder)
        passed += p
        failed += f
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
