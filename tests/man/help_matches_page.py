#!/usr/bin/env python3
"""Each program's --help and its manual page name the same long options.

Usage: help_matches_page.py PAGE.scd PROGRAM [SUBCOMMAND ...]
The options of PROGRAM --help (and of PROGRAM SUBCOMMAND --help for each subcommand given) are
compared with the options the page marks in bold (*--name*).
"""
import os
import re
import subprocess
import sys

OPTION = r"--[a-z][a-z0-9-]*"


def help_options(program, subcommands):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    found = set()
    for words in [[]] + [[s] for s in subcommands]:
        out = subprocess.run([program, *words, "--help"], env=env, capture_output=True,
                             text=True, timeout=60, check=True).stdout
        found |= set(re.findall(OPTION, out))
    return found


def page_options(page):
    with open(page, encoding="utf-8") as f:
        return set(re.findall(r"\*(" + OPTION + r")\*", f.read()))


def main():
    page, program, subcommands = sys.argv[1], sys.argv[2], sys.argv[3:]
    in_help, in_page = help_options(program, subcommands), page_options(page)
    problems = [f"{o}: in --help, not on the page" for o in sorted(in_help - in_page)]
    problems += [f"{o}: on the page, not in --help" for o in sorted(in_page - in_help)]
    for p in problems:
        print(f"{os.path.basename(page)}: {p}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
