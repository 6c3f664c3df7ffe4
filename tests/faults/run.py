#!/usr/bin/env python3
"""Proves that the test suite sees real faults: applies each deliberate fault
of faults.txt to a copy of the sources, builds it, runs the whole suite and
puts the fault back, one fault at a time. A fault the suite lets pass is
reported as MISSED.

  tests/faults/run.py [ID ...]     (default: every fault; about a minute each)

Works in build/faults/ (a copy of the sources and its own build tree), so the
checkout is never touched. Prints a line per fault, also kept in
build/faults/results.txt.
"""
import os, re, shutil, subprocess, sys, time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
WORK = os.path.join(ROOT, "build", "faults")
SRC, BUILD = os.path.join(WORK, "src"), os.path.join(WORK, "build")


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


def run(cmd, limit=None):
    try:
        p = subprocess.run(cmd, cwd=WORK, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                           errors="replace", timeout=limit)
        return p.returncode, p.stdout
    except subprocess.TimeoutExpired:
        return None, ""


def suite():
    """(passed, what failed first) for one build and run of every test; a
    suite that hangs counts as having seen the fault."""
    code, out = run(["cmake", "--build", BUILD, "-j", "2"])
    if code != 0:
        return None, "does not build:\n" + out[-2000:]
    code, out = run(["ctest", "--test-dir", BUILD, "-j", "2", "--stop-on-failure"], 600)
    run(["bash", os.path.join(SRC, "tests/bed/bed.sh"), "stop", os.path.join(BUILD, "bed")])
    failed = re.findall(r"Test +#\d+: (\S+) \.+\**(?:Failed|Timeout|Exception|Not Run)", out)
    return code == 0, "the suite hung" if code is None else (failed or ["ctest exit %s" % code])[0]


def main():
    faults = [f for f in parse(os.path.join(ROOT, "tests/faults/faults.txt")) if f["id"] in sys.argv[1:] or len(sys.argv) < 2]
    shutil.rmtree(SRC, ignore_errors=True)
    files = subprocess.run(["git", "ls-files", "-co", "--exclude-standard"], cwd=ROOT, stdout=subprocess.PIPE,
                           text=True, check=True).stdout.split()
    for f in files:
        if os.path.isfile(os.path.join(ROOT, f)):
            os.makedirs(os.path.dirname(os.path.join(SRC, f)), exist_ok=True)
            shutil.copy(os.path.join(ROOT, f), os.path.join(SRC, f))   # new times: no stale builds of faults
    for f in faults:   # every fault must apply before anything runs
        apply(f, open(os.path.join(SRC, f["file"])).read())
    # a fault that hangs a test ends it sooner than the full time limit would
    cml = os.path.join(SRC, "tests/CMakeLists.txt")
    text = re.sub(r"TIMEOUT (\d+)", lambda m: "TIMEOUT %d" % min(int(m.group(1)), 120), open(cml).read())
    open(cml, "w").write(text)
    os.makedirs(BUILD, exist_ok=True)
    run(["cmake", "-S", SRC, "-B", BUILD, "-DCMAKE_TOOLCHAIN_FILE=" + SRC + "/cmake/i686-w64-mingw32.cmake"])
    ok, why = suite()
    if not ok:
        sys.exit("the suite fails without any fault: " + why)
    lines = []
    for f in faults:
        path, start = os.path.join(SRC, f["file"]), time.time()
        original = open(path).read()
        open(path, "w").write(apply(f, original))
        try:
            ok, why = suite()
        finally:
            open(path, "w").write(original)
        if ok is None:
            sys.exit(f["id"] + " " + why)
        lines.append("%s %-6s %4.0f s  %s%s" % (f["id"], "MISSED" if ok else "caught", time.time() - start, f["what"],
                                                "" if ok else ": " + why))
        print(lines[-1], flush=True)
    lines.append("%d of %d faults caught" % (sum("caught" in l for l in lines), len(faults)))
    print(lines[-1])
    open(os.path.join(WORK, "results.txt"), "w").write("\n".join(lines) + "\n")
    return 0 if all("caught" in l for l in lines[:-1]) else 1


if __name__ == "__main__":
    sys.exit(main())
