#!/usr/bin/env python3
"""Adds up the test results of every layer and prints "N passed, N failed".

Each results folder holds ctest's JUnit files (ctest.xml, and ctest-NAME.xml for further runs of ctest) and
one GoogleTest XML file per test program.
A program counts with its GoogleTest cases; a ctest test without such a file (a script, or a program that
died before writing it) counts as one case. A program that failed although its cases passed counts one
failure more. A fuzz-results folder holds a one-word status file. A folder filled by the virtual machine
(scripts/vm) holds vm-status: "timeout" or "crash" there counts one failure more.
"""
import glob
import os
import sys
import xml.etree.ElementTree as ET


def count_folder(folder):
    passed = failed = 0
    vm_status = os.path.join(folder, "vm-status")
    if os.path.exists(vm_status):
        outcome = open(vm_status).read().strip()
        if not outcome.startswith("exit"):
            print(f"{folder}: the virtual machine ended by {outcome}", file=sys.stderr)
            failed += 1
    junits = sorted(glob.glob(os.path.join(folder, "ctest*.xml")))
    if not junits:
        print(f"no results in {folder}", file=sys.stderr)
        return passed, max(failed, 1)
    cases = [case for junit in junits for case in ET.parse(junit).getroot().iter("testcase")]
    for case in cases:
        name = case.get("name")
        ctest_failed = case.get("status") not in (None, "run") or case.find("failure") is not None
        gtest = os.path.join(folder, f"{name}.xml")
        if os.path.exists(gtest):
            root = ET.parse(gtest).getroot()
            tests = int(root.get("tests", 0)) - int(root.get("disabled", 0))
            bad = int(root.get("failures", 0)) + int(root.get("errors", 0))
            skipped = int(root.get("skipped", 0))
            if ctest_failed and bad == 0:
                bad = 1
                print(f"{name}: the program failed although its cases passed", file=sys.stderr)
            passed += max(tests - bad - skipped, 0)
            failed += bad
        else:
            if ctest_failed:
                failed += 1
            else:
                passed += 1
    return passed, failed


def main():
    passed = failed = 0
    for folder in sys.argv[1:]:
        status = os.path.join(folder, "status")
        if os.path.exists(status):
            ok = open(status).read().strip() == "pass"
            passed += ok
            failed += not ok
            continue
        p, f = count_folder(folder)
        passed += p
        failed += f
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
