#!/usr/bin/env python3
"""Plants small faults in src/ one at a time and runs the whole test suite
after each, to see which faults the tests notice.

Each fault is drawn at random from every place in src/ where one small edit
applies: a comparison turned (< to <=, == to !=), an arithmetic or logical
operator swapped, a number changed by one, a negation dropped, true and false
swapped, or a plain statement removed. A fault the compiler refuses is put
back and another drawn. The tree is restored after every fault, also when the
script is interrupted.

  scripts/plant_faults.py --build build --count 60 --seed 7 --out faults.tsv
  scripts/plant_faults.py --under src/math --tests '^Math' --count 30

The build folder must be configured already (any build type). Each line of
the output says where the fault was, what it changed, and whether a test
failed (and which) or every test passed. --under keeps faults to some
folders and --tests runs only the tests whose names match, for a quick look
at one part of the program; a measure of the whole suite takes neither.
"""
import argparse
import os
import random
import re
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

SWAPS = [
    (" < ", " <= "), (" <= ", " < "), (" > ", " >= "), (" >= ", " > "),
    (" == ", " != "), (" != ", " == "), (" && ", " || "), (" || ", " && "),
    (" + ", " - "), (" - ", " + "), (" * ", " / "), (" / ", " * "),
    (" += ", " -= "), (" -= ", " += "), (" << ", " >> "), (" >> ", " << "),
]
NUMBER = re.compile(r"(?<![\w.])(\d+)(\.\d+)?(f|u|U|ull|ULL|L)?(?![\w.])")
NEGATION = re.compile(r"!(?!=)")
BOOLEAN = re.compile(r"\b(true|false)\b")
STATEMENT = re.compile(
    r"^\s*(?!return\b|break\b|continue\b|case\b|default\b|goto\b)"
    r"[\w.\->\[\]*]+(\s*(=|\+=|-=|\*=|/=|\|=|&=|\^=|<<=|>>=)\s*.+|\(.*\)|\+\+|--);\s*$")
SKIP_LINE = re.compile(r"^\s*(#|static_assert|using\b|namespace\b|template\b|extern\b|//)")


def mask_literals(line):
    """Blanks the insides of string and character literals and cuts a line
    comment, so that faults are only planted in code."""
    out, quote, i = [], None, 0
    while i < len(line):
        c = line[i]
        if quote:
            if c == "\\":
                out.append("  ")
                i += 2
                continue
            out.append(c if c == quote else " ")
            if c == quote:
                quote = None
        elif c in "\"'":
            quote = c
            out.append(c)
        elif line.startswith("//", i):
            break
        else:
            out.append(c)
        i += 1
    return "".join(out)


def sources(under):
    for top, _, names in os.walk(os.path.join(ROOT, "src")):
        for name in sorted(names):
            path = os.path.relpath(os.path.join(top, name), ROOT)
            if name.endswith((".cpp", ".h")) and (not under or path.startswith(tuple(under))):
                yield path


def sites(path):
    """Every fault that applies to one file: (line index, column, old, new)."""
    with open(os.path.join(ROOT, path), encoding="utf-8", errors="surrogateescape") as f:
        lines = f.read().split("\n")
    in_block = False
    for n, raw in enumerate(lines):
        code = mask_literals(raw)
        if in_block:
            end = code.find("*/")
            if end < 0:
                continue
            code = " " * (end + 2) + code[end + 2:]
            in_block = False
        start = code.find("/*")
        if start >= 0:
            end = code.find("*/", start + 2)
            if end < 0:
                in_block = True
                code = code[:start]
            else:
                code = code[:start] + " " * (end + 2 - start) + code[end + 2:]
        if SKIP_LINE.match(code) or not code.strip():
            continue
        for old, new in SWAPS:
            for m in re.finditer(re.escape(old), code):
                yield n, m.start(), old, new
        for m in NUMBER.finditer(code):
            whole, frac, suffix = m.group(1), m.group(2) or "", m.group(3) or ""
            if frac == "" and code[max(0, m.start() - 2):m.start()] == "0x":
                continue
            value = int(whole)
            bumped = "1" if value == 0 and not frac else str(value + 1) if value != 1 or frac else "0"
            yield n, m.start(), m.group(0), bumped + frac + suffix
        for m in NEGATION.finditer(code):
            yield n, m.start(), "!", ""
        for m in BOOLEAN.finditer(code):
            yield n, m.start(), m.group(1), "false" if m.group(1) == "true" else "true"
        if STATEMENT.match(code):
            indent = len(raw) - len(raw.lstrip())
            yield n, indent, raw[indent:], ";"


def apply(path, site):
    n, col, old, new = site
    full = os.path.join(ROOT, path)
    with open(full, encoding="utf-8", errors="surrogateescape") as f:
        text = f.read()
    lines = text.split("\n")
    line = lines[n]
    assert line[col:col + len(old)] == old, (path, site)
    lines[n] = line[:col] + new + line[col + len(old):]
    with open(full, "w", encoding="utf-8", errors="surrogateescape") as f:
        f.write("\n".join(lines))
    return text, line.strip(), lines[n].strip()


def restore(path, text):
    with open(os.path.join(ROOT, path), "w", encoding="utf-8", errors="surrogateescape") as f:
        f.write(text)


def run(cmd, timeout, env=None):
    try:
        p = subprocess.run(cmd, cwd=ROOT, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                           timeout=timeout, text=True, errors="replace")
        return p.returncode, p.stdout
    except subprocess.TimeoutExpired as e:
        return None, (e.stdout or b"").decode(errors="replace") if isinstance(e.stdout, bytes) else (e.stdout or "")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default="build", help="configured build folder")
    ap.add_argument("--count", type=int, default=40, help="faults that compile, to test")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--jobs", type=int, default=4)
    ap.add_argument("--out", default="planted_faults.tsv")
    ap.add_argument("--test-timeout", type=int, default=180, help="seconds a single test may take")
    ap.add_argument("--under", action="append", default=[], help="plant only in files below this folder")
    ap.add_argument("--tests", help="run only the tests whose names match this regular expression")
    args = ap.parse_args()
    # An interrupted run still puts the planted file back (see the finally
    # below), also when started in the background, where SIGINT is ignored.
    signal.signal(signal.SIGINT, signal.default_int_handler)
    signal.signal(signal.SIGTERM, signal.default_int_handler)

    if subprocess.run(["git", "diff", "--quiet", "--", "src"], cwd=ROOT).returncode != 0:
        sys.exit("src/ has uncommitted changes: plant faults in a clean tree")
    every = [(p, s) for p in sources(args.under) for s in sites(p)]
    rng = random.Random(args.seed)
    rng.shuffle(every)
    print(f"{len(every)} places a fault can be planted; testing {args.count}", flush=True)

    env = dict(os.environ, ALSOFT_DRIVERS="null", SDL_AUDIODRIVER="dummy", TL_MESSAGEBOX="stderr")
    build = ["cmake", "--build", args.build, "-j", str(args.jobs)]
    ctest = ["ctest", "--test-dir", args.build, "-j", str(args.jobs), "--stop-on-failure",
             "--timeout", str(args.test_timeout), "--output-on-failure"] + (["-R", args.tests] if args.tests else [])
    tested = caught = 0
    with open(args.out, "w") as out:
        out.write("file\tline\tbefore\tafter\tresult\ttest\n")
        for path, site in every:
            if tested == args.count:
                break
            text, before, after = apply(path, site)
            try:
                code, _ = run(build, 900)
                if code != 0:
                    continue
                started = time.time()
                code, log = run(ctest, 3600, env)
                failed = [name for name, why in re.findall(r"\d+ - (\S+) \(([^)]*)\)", log)
                          if why not in ("Skipped", "Not Run", "Disabled")]
                result = "caught" if code != 0 else "missed"
                tested += 1
                caught += code != 0
                name = "" if code == 0 else failed[0] if failed else "(suite)"
                out.write(f"{path}\t{site[0] + 1}\t{before}\t{after}\t{result}\t{name}\n")
                out.flush()
                print(f"[{tested}/{args.count}] {result:6} {path}:{site[0] + 1} {time.time() - started:5.0f}s "
                      f"{name}  ({caught}/{tested} caught)", flush=True)
            finally:
                restore(path, text)
    run(build, 900)
    print(f"caught {caught} of {tested} ({100 * caught / max(tested, 1):.0f}%)")


if __name__ == "__main__":
    main()
