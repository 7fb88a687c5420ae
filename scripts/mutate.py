#!/usr/bin/env python3
"""Mutation runner: puts one small fault at a time into the code and checks that the tests
catch it. Not run by CI (each mutant costs a rebuild and a test run); run it when a change
touches rules, and add a mutant for each rule a test is meant to guard.

Each mutant of the list (tests/mutants.txt) replaces one exact text, which must occur exactly
once in its file (or, with nth, the nth of its occurrences). The runner applies it, rebuilds the build folder incrementally, runs ctest
(only the tests its filter names, stopping at the first failure), restores the file and says
whether the tests caught it. Before the first mutant the same tests run unmutated: they must
pass, or every mutant would count as caught.

  scripts/mutate.py                       every mutant, build folder ./build
  scripts/mutate.py -k privacy -k rate    only mutants whose name holds one of these words
  scripts/mutate.py --build build-x       another configured build folder
  scripts/mutate.py --check               only check that every mutant applies

Exit status 0 when every mutant run was caught, 1 otherwise.
"""
import argparse
import os
import pathlib
import signal
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
KEYS = ("mutant", "file", "find", "nth", "replace", "tests")


def read_list(path):
    """Paragraphs of "key: value" lines; '#' starts a comment line. The value is everything
    after the first ': ', kept exactly (inner and trailing blanks included)."""
    mutants, current = [], {}
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        if line.startswith("#"):
            continue
        if not line.strip():
            if current:
                mutants.append(current)
            current = {}
            continue
        key, sep, value = line.partition(": ")
        if not sep and line.endswith(":"):
            key, sep, value = line[:-1], ":", ""
        if not sep or key not in KEYS or key in current:
            sys.exit(f"{path}:{number}: expected one of {', '.join(KEYS)} once per mutant")
        current[key] = value
        current.setdefault("line", number)
    if current:
        mutants.append(current)
    for m in mutants:
        missing = [k for k in ("mutant", "file", "find", "replace") if k not in m]
        if missing:
            sys.exit(f"{path}:{m['line']}: mutant lacks {', '.join(missing)}")
    return mutants


def mutated(text, m):
    at = -1
    for _ in range(int(m.get("nth", 1))):
        at = text.find(m["find"], at + 1)
    return text[:at] + m["replace"] + text[at + len(m["find"]):]


def run(command, log, timeout=None):
    with open(log, "a", encoding="utf-8") as out:
        out.write(f"$ {' '.join(command)}\n")
        out.flush()
        try:
            return subprocess.run(command, cwd=ROOT, stdout=out, stderr=subprocess.STDOUT,
                                  timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            out.write("(timed out)\n")
            return -1


def build(args, log):
    return run(["cmake", "--build", args.build], log) == 0


def test(args, log, regex):
    command = ["ctest", "--test-dir", args.build, "-j2", "--timeout", str(args.timeout),
               "--stop-on-failure", "--no-tests=error", "-E", "^format$"]
    if regex:
        command += ["-R", regex]
    return run(command, log) == 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--list", default=str(ROOT / "tests" / "mutants.txt"))
    parser.add_argument("--build", default="build")
    parser.add_argument("-k", action="append", default=[], metavar="WORD",
                        help="only mutants whose name holds WORD (repeatable)")
    parser.add_argument("--timeout", type=int, default=120, help="seconds per test")
    parser.add_argument("--check", action="store_true", help="only check that mutants apply")
    args = parser.parse_args()
    os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
    # A stopped run still restores the file it changed (the finally below).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))

    mutants = [m for m in read_list(pathlib.Path(args.list))
               if not args.k or any(w in m["mutant"] for w in args.k)]
    applicable = []
    for m in mutants:
        text = (ROOT / m["file"]).read_text(encoding="utf-8")
        count = text.count(m["find"])
        if count != 1 and not ("nth" in m and count >= int(m["nth"]) >= 1):
            print(f"does not apply ({count} matches): {m['mutant']} ({m['file']})")
        else:
            applicable.append(m)
    if args.check or not applicable:
        print(f"{len(applicable)} of {len(mutants)} mutants apply")
        return 0 if len(applicable) == len(mutants) else 1

    log = ROOT / args.build / "mutate.log"
    log.write_text("", encoding="utf-8")
    print(f"log: {log}")
    filters = [m.get("tests", "") for m in applicable]
    baseline = "" if "" in filters else "|".join(f"({f})" for f in sorted(set(filters)))
    if not build(args, log) or not test(args, log, baseline):
        print("the tests fail without any mutant; nothing to measure")
        return 1

    caught, survived, broken = [], [], []
    for m in applicable:
        path = ROOT / m["file"]
        original = path.read_text(encoding="utf-8")
        started = time.monotonic()
        try:
            path.write_text(mutated(original, m), encoding="utf-8")
            if not build(args, log):
                outcome, bucket = "does not build", broken
            elif test(args, log, m.get("tests", "")):
                outcome, bucket = "SURVIVED", survived
            else:
                outcome, bucket = "caught", caught
        finally:
            path.write_text(original, encoding="utf-8")
        bucket.append(m["mutant"])
        print(f"{outcome:>14}  {m['mutant']}  ({time.monotonic() - started:.0f} s)", flush=True)
    build(args, log)  # leave the build folder matching the sources

    measured = len(caught) + len(survived)
    score = 100.0 * len(caught) / measured if measured else 0.0
    print(f"score: {len(caught)} of {measured} caught ({score:.0f}%)"
          + (f"; {len(broken)} did not build" if broken else ""))
    for name in survived:
        print(f"survived: {name}")
    return 0 if not survived and not broken and len(applicable) == len(mutants) else 1


if __name__ == "__main__":
    sys.exit(main())
