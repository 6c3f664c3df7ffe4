#!/usr/bin/env python3
"""The fault runner's verdict on ctest's output: only a test that ran and
failed is a catch; a test that did not run, a failed bed or a hang stop the
count. The outputs are ctest's own lines, cut to what matters."""
import os, sys, unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from run import verdict  # noqa: E402


def ctest(*rows, summary="0 tests failed out of 4"):
    """ctest's output for rows of (name, state)."""
    lines = ["Test project /x/build"]
    for i, (name, state) in enumerate(rows, 1):
        mark = "   " if state == "Passed" else "***"
        lines.append("%d/%d Test #%d: %s %s%s%s    0.01 sec" % (i, len(rows), i, name, "." * (33 - len(name)), mark,
                                                              state))
    lines.append("")
    lines.append("%s%% tests passed, %s" % (100, summary))
    return "\n".join(lines) + "\n"


PASS = ("bed.start", "Passed"), ("unit.Checksum", "Passed"), ("e2e.Install", "Passed"), ("bed.stop", "Passed")


class Verdict(unittest.TestCase):
    def test_cases(self):
        cases = [
            ("every test passed", 0, ctest(*PASS), ("pass", [])),
            ("a test failed", 8, ctest(PASS[0], ("unit.Checksum", "Failed"), PASS[2], PASS[3]),
             ("caught", ["unit.Checksum"])),
            ("a test timed out", 8, ctest(PASS[0], PASS[1], ("e2e.Install", "Timeout"), PASS[3]),
             ("caught", ["e2e.Install (timeout)"])),
            ("a test crashed", 8, ctest(PASS[0], ("unit.Checksum", "Exception: SegFault"), PASS[2], PASS[3]),
             ("caught", ["unit.Checksum"])),
        ]
        for what, code, out, want in cases:
            with self.subTest(what):
                self.assertEqual(verdict(code, out), want)

    def test_errors(self):
        cases = [
            ("the bed did not start: the rest did not run", 8,
             ctest(("bed.start", "Failed"), ("unit.Checksum", "Not Run"), ("e2e.Install", "Not Run"), PASS[3]),
             "did not run: unit.Checksum e2e.Install"),
            ("one test did not run, another failed", 8,
             ctest(PASS[0], ("unit.Checksum", "Failed"), ("e2e.Install", "Not Run"), PASS[3]),
             "did not run: e2e.Install"),
            ("the bed failed to stop", 8, ctest(PASS[0], PASS[1], PASS[2], ("bed.stop", "Failed")),
             "the test bed failed: bed.stop"),
            ("the whole suite hung", None, "", "the suite hung"),
            ("nothing ran", 0, "Test project /x/build\nNo tests were found!!!\n", "no test ran"),
            ("ctest failed with every test passed", 1, ctest(*PASS), "ctest exit 1"),
        ]
        for what, code, out, why in cases:
            with self.subTest(what):
                state, said = verdict(code, out)
                self.assertEqual(state, "error")
                self.assertIn(why, said)


if __name__ == "__main__":
    unittest.main()
