#!/usr/bin/env python3
"""Mutation testing: how many small faults planted in src/ the fast tests catch.

Each mutant changes one line of one source file (a comparison, an arithmetic
or logical operator, a constant, a boolean, a removed statement). A fixed seed
picks the same sample from the same sources every time, so that two test
suites can be compared on the same mutants.

For every mutant the file is changed in place in the checkout given with
--tree (use a worktree of its own: the script restores each file, but an
interrupted run may leave one mutated), the build directory is rebuilt, and
the fast tests run until the first failure. A mutant is killed when a test
fails or times out, survives when all pass, and does not count when it does
not compile.

    scripts/mutation.py --tree . --build build/mutation --count 300 --seed 1
    scripts/mutation.py ... --list          # only print the sample
    scripts/mutation.py ... --rerun before.json --result killed   # the same mutants again

Results go to standard output and, with --json FILE, to a file.
"""

import argparse
import json
import os
import random
import re
import subprocess
import sys
import time

# (name, pattern, replacement): each match of the pattern in a line gives one
# mutant. Patterns avoid the inside of longer operators (<<, ->, ++ and the like).
RULES = [
    # Spaced only, so that template brackets stay as they are.
    ("lt-to-le", r" < ", " <= "),
    ("le-to-lt", r" <= ", " < "),
    ("gt-to-ge", r" > ", " >= "),
    ("ge-to-gt", r" >= ", " > "),
    ("eq-to-ne", r"==", "!="),
    ("ne-to-eq", r"!=", "=="),
    ("and-to-or", r"&&", "||"),
    ("or-to-and", r"\|\|", "&&"),
    ("plus-to-minus", r"(?<=[\w)\]]) \+ (?=[\w(])", " - "),
    ("minus-to-plus", r"(?<=[\w)\]]) - (?=[\w(])", " + "),
    ("times-to-div", r"(?<=[\w)\]]) \* (?=[\w(])", " / "),
    ("shl-to-shr", r" << ", " >> "),
    ("shr-to-shl", r" >> ", " << "),
    ("band-to-bor", r"(?<=[\w)\]]) & (?=[\w(])", " | "),
    ("bor-to-band", r"(?<=[\w)\]]) \| (?=[\w(])", " & "),
    ("xor-to-or", r" \^ ", " | "),
    ("true-to-false", r"\btrue\b", "false"),
    ("false-to-true", r"\bfalse\b", "true"),
    ("const-plus-one", r"(?<![\w.])([1-9][0-9]*)(?![\w.'])", None),
    ("const-to-zero", r"(?<![\w.])([1-9][0-9]*)(?![\w.'])", "0"),
    ("incr-to-decr", r"\+\+", "--"),
    ("break-to-continue", r"\bbreak;", "continue;"),
]

# A whole statement line that can be removed and still compile, usually.
STATEMENT = re.compile(r"^\s*(?!return\b|case\b|default\b|else\b|if\b|for\b|while\b|do\b|switch\b)"
                       r"[\w:.\->\[\]()*&]+(\s*(\(|=|\+=|-=|\|=|&=|<<=|>>=|\+\+|--).*)?;\s*$")


def source_files(tree):
    out = subprocess.run(["git", "ls-files", "src"], cwd=tree, check=True, capture_output=True, text=True)
    return sorted(f for f in out.stdout.split() if f.endswith((".cpp", ".h")))


def code_part(line):
    """The line without its comment and string literals, for matching; None to skip the line."""
    stripped = line.strip()
    if not stripped or stripped.startswith(("//", "#", "*", "/*", "static_assert", "namespace", "template")):
        return None
    code = line.split("//", 1)[0]
    # Blank out string and character literals so that nothing inside them mutates.
    return re.sub(r'"(\\.|[^"\\])*"|\'(\\.|[^\'\\])*\'', lambda m: " " * len(m.group(0)), code)


def mutants_of(path, lines):
    result = []
    in_block_comment = False
    for number, line in enumerate(lines, 1):
        if in_block_comment:
            if "*/" in line:
                in_block_comment = False
            continue
        if line.lstrip().startswith("/*") and "*/" not in line:
            in_block_comment = True
            continue
        code = code_part(line)
        if code is None:
            continue
        for name, pattern, replacement in RULES:
            for m in re.finditer(pattern, code):
                if name == "const-plus-one":
                    new = str(int(m.group(1)) + 1)
                else:
                    new = replacement
                mutated = line[:m.start()] + new + line[m.end():]
                if mutated != line:
                    result.append({"file": path, "line": number, "rule": name, "original": line,
                                   "mutated": mutated})
        if STATEMENT.match(code) and "{" not in code and "}" not in code:
            result.append({"file": path, "line": number, "rule": "delete-statement", "original": line,
                           "mutated": "\n" if line.endswith("\n") else ""})
    return result


def sample(tree, count, seed):
    candidates = []
    for path in source_files(tree):
        with open(os.path.join(tree, path), encoding="utf-8") as f:
            candidates += mutants_of(path, f.readlines())
    rng = random.Random(seed)
    picked = rng.sample(candidates, min(count, len(candidates)))
    picked.sort(key=lambda m: (m["file"], m["line"], m["rule"], m["mutated"]))
    return candidates, picked


def run(cmd, cwd, timeout, output=False):
    try:
        done = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE if output else subprocess.DEVNULL,
                              stderr=subprocess.STDOUT if output else subprocess.DEVNULL, text=True,
                              timeout=timeout, errors="replace")
        return (done.returncode, done.stdout) if output else done.returncode
    except subprocess.TimeoutExpired:
        return (None, "") if output else None


def failed_tests(ctest_output):
    """The names CTest lists under "The following tests FAILED"."""
    names = []
    listing = False
    for line in ctest_output.splitlines():
        if line.startswith("The following tests FAILED"):
            listing = True
        elif listing:
            m = re.match(r"\s*\d+ - (\S+)", line)
            if not m:
                break
            names.append(m.group(1))
    return names


def test_mutant(tree, build, mutant, args):
    path = os.path.join(tree, mutant["file"])
    with open(path, encoding="utf-8") as f:
        lines = f.readlines()
    if lines[mutant["line"] - 1] != mutant["original"]:
        return "stale"
    mutated = list(lines)
    mutated[mutant["line"] - 1] = mutant["mutated"]
    try:
        with open(path, "w", encoding="utf-8") as f:
            f.writelines(mutated)
        if run(["cmake", "--build", build, "-j", str(args.jobs)], tree, args.build_timeout) != 0:
            return "uncompiled"
        status, output = run(["ctest", "--test-dir", build, "-j", str(args.jobs), "-LE", args.exclude,
                              "--stop-on-failure", "--timeout", str(args.test_timeout)], tree,
                             args.suite_timeout, output=True)
        mutant["failed_tests"] = failed_tests(output) if status != 0 else []
        return "survived" if status == 0 else "killed"
    finally:
        with open(path, "w", encoding="utf-8") as f:
            f.writelines(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tree", default=".", help="checkout whose src/ is mutated (default .)")
    parser.add_argument("--build", default="build/mutation", help="configured build directory, relative to the tree")
    parser.add_argument("--count", type=int, default=300, help="mutants in the sample (default 300)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the sample (default 1)")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--exclude", default="long|bench", help="CTest labels left out (default long|bench)")
    parser.add_argument("--test-timeout", type=int, default=120, help="seconds per test")
    parser.add_argument("--suite-timeout", type=int, default=1200, help="seconds for the whole suite")
    parser.add_argument("--build-timeout", type=int, default=1200)
    parser.add_argument("--only", help="keep only the sampled mutants whose file starts with this path")
    parser.add_argument("--rerun", metavar="JSON", help="test the mutants of an earlier result file instead")
    parser.add_argument("--result", help="with --rerun: only the mutants that had this result (killed, survived)")
    parser.add_argument("--list", action="store_true", help="print the sample and stop")
    parser.add_argument("--json", help="write every mutant's result to this file")
    args = parser.parse_args()

    tree = os.path.abspath(args.tree)
    build = os.path.join(tree, args.build)
    if args.rerun:
        with open(args.rerun, encoding="utf-8") as f:
            earlier = json.load(f)
        picked = [m for m in earlier["mutants"] if not args.result or m.get("result") == args.result]
        for m in picked:
            m.pop("result", None)
            m.pop("failed_tests", None)
        print(f"{len(picked)} mutants from {args.rerun}")
    else:
        candidates, picked = sample(tree, args.count, args.seed)
        print(f"{len(candidates)} candidate mutants in src/, {len(picked)} sampled with seed {args.seed}")
    if args.only:
        picked = [m for m in picked if m["file"].startswith(args.only)]
        print(f"{len(picked)} of them in {args.only}")
    if args.list:
        for m in picked:
            print(f"{m['file']}:{m['line']} {m['rule']}: {m['mutated'].strip()}")
        return 0
    if not os.path.isdir(build):
        print(f"configure {build} first (cmake -S {tree} -B {build} -G Ninja -DCMAKE_BUILD_TYPE=Release)",
              file=sys.stderr)
        return 2
    if run(["cmake", "--build", build, "-j", str(args.jobs)], tree, args.build_timeout) != 0:
        print("the unmutated tree does not build", file=sys.stderr)
        return 2
    counts = {"killed": 0, "survived": 0, "uncompiled": 0, "stale": 0}
    started = time.time()
    for i, m in enumerate(picked, 1):
        m["result"] = test_mutant(tree, build, m, args)
        counts[m["result"]] += 1
        killer = f" ({m['failed_tests'][0]})" if m.get("failed_tests") else ""
        print(f"[{i}/{len(picked)}] {m['result']:10} {m['file']}:{m['line']} {m['rule']}{killer}", flush=True)
    # Leave the build matching the restored sources.
    run(["cmake", "--build", build, "-j", str(args.jobs)], tree, args.build_timeout)
    valid = counts["killed"] + counts["survived"]
    score = 100.0 * counts["killed"] / valid if valid else 0.0
    print(f"killed {counts['killed']} of {valid} compiled mutants ({score:.1f} %); "
          f"{counts['uncompiled']} did not compile; {time.time() - started:.0f} s")
    for m in picked:
        if m.get("result") == "survived":
            print(f"  survived: {m['file']}:{m['line']} {m['rule']}: {m['mutated'].strip()}")
    if args.json:
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump({"seed": args.seed, "count": len(picked), "counts": counts, "score": score,
                       "mutants": picked}, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
