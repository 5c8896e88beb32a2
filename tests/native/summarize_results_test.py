#!/usr/bin/env python3
"""scripts/summarize_results.py against small results folders: what it counts as passed and failed,
above all that a virtual machine which crashed or timed out, or a folder without results, never passes."""
import os
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "summarize_results.py")


def junit(*cases):
    """ctest's JUnit file; each case is (name, status)."""
    body = "".join(f'<testcase name="{n}" status="{s}"/>' if s == "run" else
                   f'<testcase name="{n}" status="{s}"><failure message="Failed"/></testcase>' for n, s in cases)
    return f'<testsuite tests="{len(cases)}">{body}</testsuite>'


def gtest(tests, failures):
    return f'<testsuites tests="{tests}" failures="{failures}" disabled="0" errors="0"/>'


CASES = [
    # (what, files of the one folder, expected line)
    ("a program counts with its cases", {"ctest.xml": junit(("a_test", "run")), "a_test.xml": gtest(5, 0)},
     "5 passed, 0 failed"),
    ("a second ctest run of the folder adds up", {"ctest.xml": junit(("a_test", "run")), "a_test.xml": gtest(3, 0),
     "ctest-span.xml": junit(("span_test", "fail")), "span_test.xml": gtest(1, 1)}, "3 passed, 1 failed"),
    ("a program that failed although its cases passed", {"ctest.xml": junit(("a_test", "fail")),
     "a_test.xml": gtest(2, 0)}, "1 passed, 1 failed"),
    ("the virtual machine ended normally", {"ctest.xml": junit(("a_test", "run")), "vm-status": "exit 0\n"},
     "1 passed, 0 failed"),
    ("the virtual machine timed out after its results", {"ctest.xml": junit(("a_test", "run")),
     "vm-status": "timeout\n"}, "1 passed, 1 failed"),
    ("the virtual machine crashed before any result", {"vm-status": "crash\n", "a_test.xml": gtest(4, 0)},
     "0 passed, 1 failed"),
    ("a folder without results", {}, "0 passed, 1 failed"),
]


class SummarizeResults(unittest.TestCase):
    def test_cases(self):
        for what, files, expected in CASES:
            with self.subTest(what), tempfile.TemporaryDirectory() as folder:
                for name, text in files.items():
                    with open(os.path.join(folder, name), "w") as f:
                        f.write(text)
                run = subprocess.run([sys.executable, SCRIPT, folder], capture_output=True, text=True)
                self.assertEqual(run.stdout.strip(), expected)
                self.assertEqual(run.returncode, 0 if expected.endswith(" 0 failed") else 1)


if __name__ == "__main__":
    unittest.main()
