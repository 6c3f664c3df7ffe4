#!/usr/bin/env python3
"""The fault runner's verdict on ctest's output: only a test that ran and failed is a catch; a test
that did not run, a failed bed or a hang stop the count. The outputs are ctest's own lines, cut short."""
import os, sys, unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from run import verdict  # noqa: E402

NAMES = "bed.start", "unit.Checksum", "e2e.Install", "bed.stop"
P = "Passed"


def ctest(*states):
    """ctest's output for the four tests in these states."""
    lines = ["Test project /x/build"]
    for i, (name, state) in enumerate(zip(NAMES, states), 1):
        lines.append("%d/4 Test #%d: %s %s%s%s    0.01 sec" % (i, i, name, "." * (33 - len(name)),
                                                            "   " if state == P else "***", state))
    return "\n".join(lines) + "\n\n100% tests passed, 0 tests failed out of 4\n"


# (what, ctest's exit code, its output, the verdict; or, for an error, what its message says)
CASES = [
    ("every test passed", 0, ctest(P, P, P, P), ("pass", [])),
    ("a test failed", 8, ctest(P, "Failed", P, P), ("caught", ["unit.Checksum"])),
    ("a test timed out", 8, ctest(P, P, "Timeout", P), ("caught", ["e2e.Install (timeout)"])),
    ("a test crashed", 8, ctest(P, "Exception: SegFault", P, P), ("caught", ["unit.Checksum"])),
    ("the bed did not start: the rest did not run", 8, ctest("Failed", "Not Run", "Not Run", P),
     "did not run: unit.Checksum e2e.Install"),
    ("one test did not run, another failed", 8, ctest(P, "Failed", "Not Run", P), "did not run: e2e.Install"),
    ("the bed failed to stop", 8, ctest(P, P, P, "Failed"), "the test bed failed: bed.stop"),
    ("the whole suite hung", None, "", "the suite hung"),
    ("nothing ran", 0, "Test project /x/build\nNo tests were found!!!\n", "no test ran"),
    ("ctest failed with every test passed", 1, ctest(P, P, P, P), "ctest exit 1"),
]


class Verdict(unittest.TestCase):
    def test_cases(self):
        for what, code, out, want in CASES:
            with self.subTest(what):
                got = verdict(code, out)
                if isinstance(want, str):
                    self.assertEqual(got[0], "error")
                    self.assertIn(want, got[1])
                else:
                    self.assertEqual(got, want)


if __name__ == "__main__":
    unittest.main()
