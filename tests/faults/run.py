#!/usr/bin/env python3
"""Applies each deliberate fault of faults.txt to a copy of the sources in build/faults/ARCH/, builds it,
runs the suite of the build that runs on this host (without the release check) and puts the fault back;
docs/faults.md tells the rules of the count. Prints a line per fault, also kept in build/faults/ARCH/results.txt.

  tests/faults/run.py [--first RESULTS] [ID ...]   (default: every fault)

The tests that caught a fault run first for the next faults of its file and folder (with --first, also those
that caught it in RESULTS, an earlier results.txt); the rest of the suite only if they pass.
"""
import os, re, shutil, subprocess, sys, time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
EXCLUDE = r"^release\.sign$"
BED_TESTS = ("bed.start", "bed.stop")
SUITE_LIMIT = 1200


def parse(path):
    faults = []
    for line in open(path, encoding="utf-8"):
        tag, text = line[:2], line[2:].rstrip("\n")
        if tag == "@ ":
            faults.append(dict(zip(("id", "file"), text.split()), what="", old=[], new=[]))
        elif faults and tag in ("? ", "- ", "+ "):
            key = {"? ": "what", "- ": "old", "+ ": "new"}[tag]
            faults[-1][key] = text if key == "what" else faults[-1][key] + [text.strip()]
    return faults


def apply(fault, text):
    """The text with the fault's lines replaced; the lines are matched once,
    leading blanks ignored, and the replacement takes the first one's."""
    pattern = r"\n".join(r"^([ \t]*)" * (i == 0) + r"[ \t]*" + re.escape(l) + r"[ \t]*$" for i, l in enumerate(fault["old"]))
    hits = list(re.finditer(pattern, text, re.M))
    if len(hits) != 1:
        sys.exit("%s: %d places match in %s" % (fault["id"], len(hits), fault["file"]))
    m = hits[0]
    end = m.end() + (not fault["new"] and text[m.end():m.end() + 1] == "\n")
    return text[:m.start()] + "\n".join(m.group(1) + l for l in fault["new"]) + text[end:]


def verdict(code, out):
    """("pass", []), ("caught", the tests that ran and failed) or ("error", why) of one ctest run (code None: it hung)."""
    if code is None:
        return "error", "the suite hung as a whole"
    results = re.findall(r"Test +#\d+: (\S+) \.+\**\s*(Not Run|\S+)", out)
    if not results:
        return "error", "no test ran:\n" + out[-2000:]
    not_run = [name for name, state in results if state == "Not Run"]
    if not_run:
        return "error", "did not run: " + " ".join(not_run)
    failed = [name + (" (timeout)" if state == "Timeout" else "") for name, state in results if state != "Passed"]
    bed = [name for name in failed if name.split()[0] in BED_TESTS]
    if bed:
        return "error", "the test bed failed: " + " ".join(bed) + "\n" + out[-2000:]
    if failed:
        return "caught", failed
    if code != 0:
        return "error", "ctest exit %s with every test passed:\n%s" % (code, out[-2000:])
    return "pass", []


class Runner:
    def __init__(self, arch):
        self.arch = arch
        self.work = os.path.join(ROOT, "build", "faults", arch)
        self.src, self.build = os.path.join(self.work, "src"), os.path.join(self.work, "build")
        self.listed = None

    def run(self, cmd, limit=None, env=None):
        try:
            p = subprocess.run(cmd, cwd=self.work, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                               errors="replace", timeout=limit, env=dict(os.environ, **(env or {})))
            return p.returncode, p.stdout
        except subprocess.TimeoutExpired:
            return None, ""

    def copy_sources(self):
        shutil.rmtree(self.src, ignore_errors=True)
        files = subprocess.run(["git", "ls-files", "-co", "--exclude-standard"], cwd=ROOT, stdout=subprocess.PIPE,
                               text=True, check=True).stdout.split()
        for f in files:
            if os.path.isfile(os.path.join(ROOT, f)):
                os.makedirs(os.path.dirname(os.path.join(self.src, f)), exist_ok=True)
                shutil.copy(os.path.join(ROOT, f), os.path.join(self.src, f))   # new times: all is rebuilt
        # a fault that hangs a test ends it sooner than the full time limit would
        cml = os.path.join(self.src, "tests/CMakeLists.txt")
        text = re.sub(r"TIMEOUT (\d+)", lambda m: "TIMEOUT %d" % min(int(m.group(1)), 120), open(cml).read())
        open(cml, "w").write(text)

    def configure(self):
        os.makedirs(self.build, exist_ok=True)
        # the exe's own checks judged by the suite's tests, not by the build
        code, out = self.run(["cmake", "-S", self.src, "-B", self.build, "-DSKYRIFT_CHECK_AT_BUILD=OFF",
                              "-DCMAKE_TOOLCHAIN_FILE=%s/cmake/%s-w64-mingw32.cmake" % (self.src, self.arch)])
        if code != 0:
            sys.exit("cannot configure:\n" + out[-2000:])

    def suite(self, first=()):
        """verdict() of one build and run of the suite, the tests named in first before the rest."""
        code, out = self.run(["cmake", "--build", self.build, "-j", "2"])
        if code != 0:
            return "error", "does not build:\n" + out[-2000:]
        if self.listed is None:   # the faults change the program, not the list of tests
            self.listed = re.findall(r"Test +#\d+: (\S+)", self.run(["ctest", "--test-dir", self.build, "-N"])[1])
        first = "|".join(re.escape(name) for name in first if name in self.listed)
        # the tests named first on their own, then the rest of the suite without them
        for only in ([["-R", "^(%s)$" % first, "-E", EXCLUDE], ["-E", "%s|^(%s)$" % (EXCLUDE, first)]] if first
                     else [["-E", EXCLUDE]]):
            # without the times of earlier runs ctest takes the tests as defined, the quick unit tests first
            shutil.rmtree(os.path.join(self.build, "Testing"), ignore_errors=True)
            # each test program stops at its first failing case, too
            code, out = self.run(["ctest", "--test-dir", self.build, "-j", "2", "--stop-on-failure"] + only, SUITE_LIMIT,
                                 {"GTEST_FAIL_FAST": "1"})
            self.run(["bash", os.path.join(self.src, "tools/bed/bed.sh"), "stop", os.path.join(self.build, "bed")])
            if verdict(code, out)[0] != "pass":
                break
        return verdict(code, out)


def probe_arch():
    out = subprocess.run(["bash", "-c", ". tools/common.sh && choose_arch >&2 && echo $RUN_ARCH"], cwd=ROOT,
                         stdout=subprocess.PIPE, text=True, check=True).stdout
    return out.split()[-1]


def caught_by(path):
    """Fault id -> the tests that caught it, in an earlier run's results."""
    found = (re.match(r"(F\d+) caught .*  <- (.*)$", line) for line in open(path, encoding="utf-8"))
    return {m[1]: [name.split()[0] for name in m[2].split(", ")] for m in found if m}


def main():
    wanted, first = sys.argv[1:], {}
    if wanted[:1] == ["--first"] and len(wanted) > 1:
        first, wanted = caught_by(wanted[1]), wanted[2:]
    every = parse(os.path.join(ROOT, "tests/faults/faults.txt"))
    faults = [f for f in every if f["id"] in wanted or not wanted]
    if wanted and len(faults) != len(set(wanted)):
        sys.exit("no such fault: " + " ".join(sorted(set(wanted) - {f["id"] for f in faults})))
    r = Runner(probe_arch())
    r.copy_sources()
    for f in faults:   # every fault must apply before anything runs
        apply(f, open(os.path.join(r.src, f["file"])).read())
    r.configure()
    print("faults against the %s build's suite (without %s)" % (r.arch, EXCLUDE), flush=True)
    for attempt in (1, 2):
        state, why = r.suite()
        if state != "pass":
            sys.exit("the unchanged program's suite does not pass (run %d): %s" % (attempt, why))
    lines, learned = [], {}

    def learn(f, names):   # by file and by folder, the latest first, a few at most
        for key in (f["file"], os.path.dirname(f["file"])):
            learned[key] = (names + [n for n in learned.get(key, []) if n not in names])[:6]

    for f in every:
        learn(f, first.get(f["id"], []))
    for f in faults:
        path, start = os.path.join(r.src, f["file"]), time.time()
        original = open(path).read()
        open(path, "w").write(apply(f, original))
        try:
            tried = first.get(f["id"], []) + learned.get(f["file"], []) + learned.get(os.path.dirname(f["file"]), [])
            state, why = r.suite(list(dict.fromkeys(tried)))
        finally:
            open(path, "w").write(original)
        if state == "error":
            sys.exit("%s: %s" % (f["id"], why))
        if state == "caught":
            learn(f, [name.split()[0] for name in why])
        lines.append("%s %-6s %4.0f s  %s%s" % (f["id"], "MISSED" if state == "pass" else "caught", time.time() - start,
                                                f["what"], "" if state == "pass" else "  <- " + ", ".join(why)))
        print(lines[-1], flush=True)
    lines.append("%d of %d faults caught (%s)" % (sum(" caught " in l for l in lines), len(faults), r.arch))
    print(lines[-1])
    open(os.path.join(r.work, "results.txt"), "w").write("\n".join(lines) + "\n")
    return 0 if all(" caught " in l for l in lines[:-1]) else 1


if __name__ == "__main__":
    sys.exit(main())
