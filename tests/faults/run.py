#!/usr/bin/env python3
"""Proves that the test suite sees real faults: applies each deliberate fault
of faults.txt to a copy of the sources, builds it, runs the whole suite and
puts the fault back, one fault at a time. A fault the suite lets pass is
reported as MISSED.

  tests/faults/run.py [ID ...]     (default: every fault; about a minute each)

Works in build/faults/ (a copy of the tracked sources and its own build
tree), so the checkout is never touched. Prints one line per fault and
writes them to build/faults/results.txt.
"""
import os
import re
import shutil
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
WORK = os.path.join(ROOT, "build", "faults")
SRC = os.path.join(WORK, "src")
BUILD = os.path.join(WORK, "build")
SUITE_LIMIT = 600          # a hung suite counts as having seen the fault
TEST_LIMIT = 120           # no single test of the copy waits longer than this


def parse(path):
    faults, cur = [], None
    for line in open(path, encoding="utf-8"):
        line = line.rstrip("\n")
        if line.startswith("@ "):
            fid, fname = line[2:].split()
            cur = {"id": fid, "file": fname, "what": "", "old": [], "new": []}
            faults.append(cur)
        elif cur and line.startswith("? "):
            cur["what"] = line[2:]
        elif cur and line[:2] in ("- ", "+ "):
            cur["old" if line[0] == "-" else "new"].append(line[2:])
    return faults


def apply(fault, text):
    """The text with the fault's lines replaced; leading blanks of the file's
    lines are ignored when matching and kept for the replacement."""
    pattern = r"\n".join(r"^([ \t]*)" + re.escape(l.strip()) + r"[ \t]*$" if i == 0
                         else r"^[ \t]*" + re.escape(l.strip()) + r"[ \t]*$"
                         for i, l in enumerate(fault["old"]))
    hits = list(re.finditer(pattern, text, re.M))
    if len(hits) != 1:
        raise SystemExit("%s: %d places match in %s" % (fault["id"], len(hits), fault["file"]))
    m = hits[0]
    indent = m.group(1)
    repl = "\n".join(indent + l.strip() for l in fault["new"])
    end = m.end() + (1 if not fault["new"] and text[m.end():m.end() + 1] == "\n" else 0)
    return text[:m.start()] + repl + text[end:]


def run(cmd, limit=None):
    try:
        p = subprocess.run(cmd, cwd=WORK, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                           text=True, errors="replace", timeout=limit)
        return p.returncode, p.stdout
    except subprocess.TimeoutExpired as e:
        out = e.stdout.decode() if isinstance(e.stdout, bytes) else (e.stdout or "")
        return None, out


def copy_sources():
    files = subprocess.run(["git", "ls-files", "-co", "--exclude-standard"], cwd=ROOT,
                           stdout=subprocess.PIPE, text=True, check=True).stdout.split("\n")
    if os.path.isdir(SRC):
        shutil.rmtree(SRC)
    for f in filter(None, files):
        if os.path.isfile(os.path.join(ROOT, f)):
            os.makedirs(os.path.dirname(os.path.join(SRC, f)), exist_ok=True)
            shutil.copy2(os.path.join(ROOT, f), os.path.join(SRC, f))
    # a fault that hangs a test ends it sooner than the full time limit would
    cml = os.path.join(SRC, "tests", "CMakeLists.txt")
    text = open(cml).read()
    open(cml, "w").write(re.sub(r"TIMEOUT (\d+)", lambda m: "TIMEOUT %d" % min(int(m.group(1)), TEST_LIMIT), text))


def suite():
    """(passed, what failed first) for one build and run of every test."""
    code, out = run(["cmake", "--build", BUILD, "-j", "2"])
    if code != 0:
        return None, "does not build:\n" + out[-2000:]
    code, out = run(["ctest", "--test-dir", BUILD, "-j", "2", "--stop-on-failure",
                     "--output-on-failure"], SUITE_LIMIT)
    run(["bash", os.path.join(SRC, "tests/bed/bed.sh"), "stop", os.path.join(BUILD, "bed")])
    if code is None:
        return False, "the suite hung (%d s)" % SUITE_LIMIT
    failed = re.findall(r"Test +#\d+: (\S+) \.+\*?\*?\*?(?:Failed|Timeout|Exception|Not Run)", out)
    if code == 0:
        return True, ""
    return False, failed[0] if failed else "ctest exit %d" % code


def main():
    faults = parse(os.path.join(ROOT, "tests", "faults", "faults.txt"))
    wanted = set(sys.argv[1:])
    if wanted:
        faults = [f for f in faults if f["id"] in wanted]
    os.makedirs(WORK, exist_ok=True)
    copy_sources()
    for f in faults:                      # every fault must apply before anything runs
        apply(f, open(os.path.join(SRC, f["file"]), encoding="utf-8").read())
    code, out = run(["cmake", "-S", SRC, "-B", BUILD, "-DCMAKE_BUILD_TYPE=Release",
                     "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(SRC, "cmake/i686-w64-mingw32.cmake")])
    if code != 0:
        raise SystemExit(out)
    ok, why = suite()
    if not ok:
        raise SystemExit("the suite fails without any fault: " + why)

    lines, caught = [], 0
    for f in faults:
        path = os.path.join(SRC, f["file"])
        original = open(path, encoding="utf-8").read()
        open(path, "w", encoding="utf-8").write(apply(f, original))
        start = time.time()
        try:
            ok, why = suite()
        finally:
            open(path, "w", encoding="utf-8").write(original)
        if ok is None:
            raise SystemExit("%s %s" % (f["id"], why))
        caught += not ok
        line = "%s %-8s %4.0f s  %s: %s" % (f["id"], "MISSED" if ok else "caught", time.time() - start,
                                           f["what"], "" if ok else why)
        print(line, flush=True)
        lines.append(line)
    summary = "%d of %d faults caught" % (caught, len(faults))
    print(summary)
    with open(os.path.join(WORK, "results.txt"), "w") as out:
        out.write("\n".join(lines + [summary]) + "\n")
    return 0 if caught == len(faults) else 1


if __name__ == "__main__":
    sys.exit(main())
