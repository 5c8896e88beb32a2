#!/usr/bin/env python3
"""scripts/summarize_results.py over results folders that a crash or a missing step left broken: it must
still print its closing line, count the broken part as failed and name it on stderr."""
import os
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "summarize_results.py")


def ctest_xml(*cases):
    """ctest's JUnit file; cases are (name, status) with status "run" or "fail"."""
    body = "".join(
        f'<testcase name="{name}" status="{status}">{"<failure/>" if status == "fail" else ""}</testcase>'
        for name, status in cases)
    return f'<?xml version="1.0" encoding="UTF-8"?>\n<testsuite tests="{len(cases)}">{body}</testsuite>'


def gtest_xml(tests, failures):
    return (f'<?xml version="1.0" encoding="UTF-8"?>\n<testsuites tests="{tests}" failures="{failures}" '
            f'disabled="0" errors="0"><testsuite name="S" tests="{tests}"></testsuite></testsuites>')


GOOD = {"ctest.xml": ctest_xml(("unit_test", "run"), ("make_fixture", "run")), "unit_test.xml": gtest_xml(3, 0)}

# Each case: the results folders (file name -> content; None = the folder does not exist), the closing line,
# the names stderr must mention.
CASES = [
    ("good", [GOOD], "4 passed, 0 failed", []),
    ("failures are counted per case",
     [{"ctest.xml": ctest_xml(("unit_test", "fail")), "unit_test.xml": gtest_xml(5, 2)}], "3 passed, 2 failed", []),
    ("a program crashed while writing its GoogleTest file",
     [{"ctest.xml": ctest_xml(("crashed_test", "fail"), ("make_fixture", "run")),
       "crashed_test.xml": gtest_xml(40, 0)[:70]}],
     "1 passed, 1 failed", ["crashed_test"]),
    ("a GoogleTest file with garbled counts",
     [{"ctest.xml": ctest_xml(("odd_test", "run")), "odd_test.xml": gtest_xml("many", 0)}],
     "0 passed, 1 failed", ["odd_test"]),
    ("an empty GoogleTest file", [{"ctest.xml": ctest_xml(("empty_test", "run")), "empty_test.xml": ""}],
     "0 passed, 1 failed", ["empty_test"]),
    ("ctest.xml is missing", [{}], "0 passed, 1 failed", ["ctest.xml"]),
    ("the results folder is missing", [None], "0 passed, 1 failed", ["results0"]),
    ("ctest.xml is garbage", [{"ctest.xml": "\x00\x01 not xml at all <<<"}], "0 passed, 1 failed", ["ctest.xml"]),
    ("ctest.xml is cut short", [{"ctest.xml": ctest_xml(("unit_test", "run"))[:60]}], "0 passed, 1 failed",
     ["ctest.xml"]),
    ("ctest.xml lists no test", [{"ctest.xml": ctest_xml()}], "0 passed, 1 failed", ["ctest.xml"]),
    ("a broken folder does not hide the next one", [{"ctest.xml": "<testsuite"}, GOOD], "4 passed, 1 failed",
     ["results0"]),
    ("a failed fuzzing run", [{"status": "fail\n"}, GOOD], "4 passed, 1 failed", ["results0"]),
    ("a second ctest run into the folder adds up",
     [{**GOOD, "ctest-span.xml": ctest_xml(("span_test", "fail")), "span_test.xml": gtest_xml(1, 1)}],
     "4 passed, 1 failed", []),
    ("the virtual machine ended with its command", [{**GOOD, "vm-status": "exit 1\n"}], "4 passed, 0 failed", []),
    ("the virtual machine timed out after writing results", [{**GOOD, "vm-status": "timeout\n"}],
     "4 passed, 1 failed", ["timeout"]),
    ("the virtual machine crashed before writing results", [{"vm-status": "crash\n", "unit_test.xml": gtest_xml(4, 0)}],
     "0 passed, 1 failed", ["crash"]),
]


class SummarizeResults(unittest.TestCase):
    def test_closing_line_and_exit_status(self):
        for what, folders, closing, named in CASES:
            with self.subTest(what), tempfile.TemporaryDirectory() as work:
                paths = []
                for i, files in enumerate(folders):
                    path = os.path.join(work, f"results{i}")
                    paths.append(path)
                    if files is None:
                        continue
                    os.mkdir(path)
                    for name, content in files.items():
                        with open(os.path.join(path, name), "w", encoding="utf-8") as f:
                            f.write(content)
                run = subprocess.run([sys.executable, SCRIPT, *paths], capture_output=True, text=True)
                self.assertEqual(run.stdout.strip().splitlines()[-1:], [closing], run.stderr)
                self.assertNotIn("Traceback", run.stderr)
                self.assertEqual(run.returncode, 0 if closing.endswith(" 0 failed") else 1, run.stderr)
                for name in named:
                    self.assertIn(name, run.stderr)


if __name__ == "__main__":
    unittest.main()
