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

Generated mutants, for faults nobody listed: --generate N derives every candidate mechanically
from the code (a relational operator moved across its boundary or turned, && and || swapped, a
condition negated, a statement that assigns a member or erases from a container deleted), in
the files a commit changed (--since REV, default HEAD~1) or under folders (--folder PATH,
repeatable), samples N of them with --seed, runs the whole suite against each, and reports the
score per folder with every survivor as file:line and the line it became.

  scripts/mutate.py --generate 40 --folder control/engine --seed 7
  scripts/mutate.py --generate 20 --since main~5

Exit status 0 when every mutant run was caught, 1 otherwise.
"""
import argparse
import collections
import os
import pathlib
import random
import re
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


# Relational and logical operators written as clang-format writes binary operators, blank on
# each side (so template brackets and stream operators are not taken for them).
SWAPS = [(" < ", " <= "), (" <= ", " < "), (" > ", " >= "), (" >= ", " > "),
         (" == ", " != "), (" != ", " == "), (" && ", " || "), (" || ", " && ")]
MEMBER_ASSIGNMENT = re.compile(r"^\s*(\+\+|--)?[A-Za-z_][\w.>-]*_\s*(=|\+=|-=|\+\+|--|;)")
ERASURE = re.compile(r"^\s*(std::)?(erase_if\(|[\w.>-]+(\.|->)(erase|clear|pop_front|pop_back)\()")
RAW_STRING = re.compile(r'R"([^(\s]*)\(')
CONDITION = re.compile(r"^(\s*(?:\} else )?(?:if|while) \()(.*)(\)( \{)?)$")


def code_spans(line):
    """(start, end) of the parts of a line outside string and character literals and comments."""
    spans, start, quote, i = [], 0, None, 0
    while i < len(line):
        c = line[i]
        if quote:
            if c == "\\":
                i += 1
            elif c == quote:
                quote, start = None, i + 1
        elif c in "\"'":
            spans.append((start, i))
            quote = c
        elif line.startswith("//", i):
            break
        i += 1
    if not quote:
        spans.append((start, i))
    return spans


def candidates(path):
    """Every generated mutant of one source file."""
    lines = path.read_text(encoding="utf-8").splitlines(keepends=True)
    rel = str(path.relative_to(ROOT))
    found = []
    raw_end = None  # the closing of a raw string literal that spans lines, while inside one
    for number, line in enumerate(lines, 1):
        body = line.rstrip("\n")
        stripped = body.strip()
        if raw_end:
            if raw_end in body:
                raw_end = None
            continue
        opening = RAW_STRING.search(body)
        if opening and ")" + opening.group(1) + '"' not in body[opening.end():]:
            raw_end = ")" + opening.group(1) + '"'
            body = body[:opening.start()]
        if not stripped or stripped.startswith(("//", "#", "*", "/*")):
            continue
        for start, end in code_spans(body):
            for old, new in SWAPS:
                at = body.find(old, start)
                while at != -1 and at + len(old) <= end:
                    found.append((rel, number, body, body[:at] + new + body[at + len(old):]))
                    at = body.find(old, at + 1)
        condition = CONDITION.match(body)
        if (condition and ";" not in condition.group(2)
                and condition.group(2).count("(") == condition.group(2).count(")")):
            found.append((rel, number, body, condition.group(1) + "!(" + condition.group(2) +
                          ")" + condition.group(3)))
        if stripped.endswith(";") and (MEMBER_ASSIGNMENT.match(body) or ERASURE.match(body)):
            found.append((rel, number, body, ""))
    return [{"mutant": f"{rel}:{n} {new.strip() or '(deleted) ' + old.strip()}", "file": rel,
             "lineno": n, "find": old, "replace": new, "generated": True}
            for rel, n, old, new in found]


def generated_sources(args):
    if args.folder:
        roots = [ROOT / f for f in args.folder]
        files = [p for r in roots for p in sorted(r.rglob("*")) if p.suffix in (".cpp", ".h")]
    else:
        names = subprocess.run(["git", "diff", "--name-only", args.since, "--"], cwd=ROOT,
                               capture_output=True, text=True, check=True).stdout.split()
        files = [ROOT / n for n in names if n.endswith((".cpp", ".h")) and (ROOT / n).exists()]
    # Tests, benchmarks and fuzz targets are not the code under test.
    return [f for f in files
            if not str(f.relative_to(ROOT)).startswith(("tests/", "bench/", "fuzz/"))]


def mutated(text, m):
    if m.get("generated"):
        lines = text.splitlines(keepends=True)
        lines[m["lineno"] - 1] = m["replace"] + "\n" if m["replace"] else ""
        return "".join(lines)
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
    parser.add_argument("--generate", type=int, metavar="N",
                        help="sample N generated mutants instead of the list")
    parser.add_argument("--since", default="HEAD~1", help="with --generate: files changed since")
    parser.add_argument("--folder", action="append", default=[], metavar="PATH",
                        help="with --generate: files under PATH (repeatable)")
    parser.add_argument("--seed", type=int, default=1, help="with --generate: the sample's seed")
    args = parser.parse_args()
    os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
    # A stopped run still restores the file it changed (the finally below).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))

    if args.generate:
        pool = [m for f in generated_sources(args) for m in candidates(f)]
        mutants = random.Random(args.seed).sample(pool, min(args.generate, len(pool)))
        print(f"{len(mutants)} of {len(pool)} generated mutants, seed {args.seed}")
    else:
        mutants = [m for m in read_list(pathlib.Path(args.list))
                   if not args.k or any(w in m["mutant"] for w in args.k)]
    applicable = []
    for m in mutants:
        if m.get("generated"):
            applicable.append(m)
            continue
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
    if args.generate:
        per_folder = collections.defaultdict(lambda: [0, 0])
        for name in caught + survived:
            folder = str(pathlib.Path(name.split(":")[0]).parent)
            per_folder[folder][0 if name in caught else 1] += 1
        for folder, (c, s) in sorted(per_folder.items()):
            print(f"  {folder}: {c} of {c + s} caught")
    for name in survived:
        print(f"survived: {name}")
    return 0 if not survived and not broken and len(applicable) == len(mutants) else 1


if __name__ == "__main__":
    sys.exit(main())
