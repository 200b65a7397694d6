#!/usr/bin/env python3
"""Checks the vexlor command line against the Python model on seeded random programs.

Every case runs `vexlor pixel` (with random or default channels and frame) and `vexlor test`
on one program and compares stdout and the exit status with the model's. Case i of seed S is
drawn from its own generator, so `--start i --count 1` replays it alone.

    python3 tests/model/check.py --vexlor build/release/cli/vexlor --count 50000 --seed 7
    python3 tests/model/check.py --vexlor ... --program 'rd=2^3^2;' --rgb 0.5,0,1 --frame 3
"""

import argparse
import collections
import concurrent.futures
import os
import random
import shlex
import subprocess
import sys

# Leave no bytecode caches in the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import gen  # noqa: E402
import runner  # noqa: E402
import vexmodel  # noqa: E402

# How the tool is run: set by main().
RUNNER = None


def pixel_args(program, rgb, frame):
    args = ["pixel", "--exact-text"]
    if rgb is not None:
        args += ["--rgb", ",".join(rgb)]
    if frame is not None:
        args += ["--frame", str(frame)]
    return args + [program]


# What the model's runs touched (compile codes, limits reached), summed over all cases.
EVENTS = collections.Counter()


def expected(command, program, rgb, frame, events=None):
    """The model's (stdout, exit status) for one command."""
    if command == "test":
        return vexmodel.test_output(program, events)
    r, g, b = [float(v) for v in rgb] if rgb is not None else (0.5, 0.5, 0.5)
    return vexmodel.pixel_output(program, r, g, b, 0 if frame is None else frame, events)


def actual(vexlor, command, program, rgb, frame, timeout):
    args = ["test", "--exact-text", program] if command == "test" else pixel_args(program, rgb, frame)
    return RUNNER.run(args, timeout)


def compare(vexlor, command, program, rgb, frame, timeout, events=None):
    """None when the command agrees with the model, else (expected, got)."""
    want = expected(command, program, rgb, frame, events)
    got = actual(vexlor, command, program, rgb, frame, timeout)
    return None if want == got else (want, got)


def run_case(vexlor, seed, index, timeout):
    program, rgb, frame = gen.Generator(random.Random("%d:%d" % (seed, index))).case()
    diffs = []
    events = collections.Counter()
    for command in ("pixel", "test"):
        d = compare(vexlor, command, program, rgb, frame, timeout, events)
        if d is not None:
            diffs.append((command, d))
    EVENTS.update(events)
    return index, program, rgb, frame, diffs


def minimize(vexlor, command, program, rgb, frame, timeout):
    """Removes chunks of the program while the command still disagrees with the model."""
    def fails(p):
        return b"\0" not in p and not p.startswith(b"--") and \
            compare(vexlor, command, p, rgb, frame, timeout) is not None

    chunk = max(1, len(program) // 2)
    while chunk >= 1:
        i, progress = 0, False
        while i < len(program):
            trial = program[:i] + program[i + chunk:]
            if fails(trial):
                program, progress = trial, True
            else:
                i += chunk
        if not progress:
            chunk //= 2
    return program


def show(out):
    return "exit %s, stdout %r" % (out[1], out[0])


def report(args, index, program, rgb, frame, diffs):
    print("MISMATCH case %d of seed %d (replay: --seed %d --start %d --count 1)"
          % (index, args.seed, args.seed, index))
    print("  program: %r" % program)
    for command, (want, got) in diffs:
        cmd = ["vexlor", "test", "--exact-text", program] if command == "test" else \
            ["vexlor"] + pixel_args(program, rgb, frame)
        print("  %s:" % command)
        print("    command:  %s" % " ".join(shlex.quote(os.fsdecode(a) if isinstance(a, bytes)
                                                       else a) for a in cmd))
        print("    expected: %s" % show(want))
        print("    got:      %s" % show(got))
        if args.minimize:
            small = minimize(args.vexlor, command, program, rgb, frame, args.timeout)
            w, g = compare(args.vexlor, command, small, rgb, frame, args.timeout)
            print("    minimal:  %r -> expected %s; got %s" % (small, show(w), show(g)))
    sys.stdout.flush()


def check_codes(args):
    """Compares CompileExpression's code and instruction count with the model's."""
    texts = [gen.Generator(random.Random("codes:%d:%d" % (args.seed, i))).expression()
             for i in range(args.start, args.start + args.count)]
    feed = "".join(t.hex() + "\n" for t in texts).encode()
    p = subprocess.run([args.codes], input=feed, stdout=subprocess.PIPE, timeout=600)
    lines = p.stdout.decode().splitlines()
    if p.returncode != 0 or len(lines) != len(texts):
        print("codes: the tool failed (exit %d, %d of %d results)"
              % (p.returncode, len(lines), len(texts)))
        return 1
    failed = 0
    for i, (text, line) in enumerate(zip(texts, lines)):
        got = tuple(int(v) for v in line.split())
        want = vexmodel.compile_result(text, EVENTS)
        if got == want:
            continue
        failed += 1
        if failed <= args.show:
            print("MISMATCH expression %d of seed %d: %r" % (args.start + i, args.seed, text))
            print("  expected: code %d, %d instructions" % want)
            print("  got:      code %d, %d instructions" % got)
    if args.stats:
        for key in sorted(EVENTS):
            print("  %-32s %d" % (key, EVENTS[key]))
    print("%d passed, %d failed" % (len(texts) - failed, failed))
    return 1 if failed else 0


def check_one(args):
    program = os.fsencode(args.program)
    rgb = args.rgb.split(",") if args.rgb else None
    diffs = []
    for command in ("pixel", "test"):
        d = compare(args.vexlor, command, program, rgb, args.frame, args.timeout)
        if d is not None:
            diffs.append((command, d))
        want = expected(command, program, rgb, args.frame)
        print("%s: model %s" % (command, show(want)))
    if diffs:
        report(args, -1, program, rgb, args.frame, diffs)
    print("%d passed, %d failed" % (0 if diffs else 1, 1 if diffs else 0))
    return 1 if diffs else 0


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--vexlor", help="path of the vexlor command-line binary")
    ap.add_argument("--codes", help="path of the compile-code tool: compare codes instead")
    ap.add_argument("--count", type=int, default=1000, help="number of cases")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--start", type=int, default=0, help="index of the first case")
    ap.add_argument("--jobs", type=int, default=2, help="cases run at once")
    ap.add_argument("--show", type=int, default=20, help="mismatches printed in full")
    ap.add_argument("--minimize", action="store_true", help="shrink each printed mismatch")
    ap.add_argument("--stats", action="store_true", help="print what the model's runs touched")
    ap.add_argument("--timeout", type=float, default=20.0, help="seconds per command")
    ap.add_argument("--program", help="check this one program instead of random ones")
    ap.add_argument("--rgb", help="channels for --program, R,G,B")
    ap.add_argument("--frame", type=int, help="frame number for --program")
    ap.add_argument("--batch", help="run the commands through this batch runner "
                    "(tests/model/batch.cpp) instead of a process each")
    args = ap.parse_args()
    global RUNNER
    RUNNER = runner.Runner(args.vexlor, args.batch)
    tool = args.codes or args.vexlor
    if not tool or not os.access(tool, os.X_OK):
        print("check: give --vexlor or --codes an executable (got %r)" % tool, file=sys.stderr)
        return 2
    if args.codes:
        return check_codes(args)
    if args.program is not None:
        return check_one(args)

    passed = failed = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
        indices = range(args.start, args.start + args.count)
        for index, program, rgb, frame, diffs in pool.map(
                lambda i: run_case(args.vexlor, args.seed, i, args.timeout), indices):
            if not diffs:
                passed += 1
                continue
            failed += 1
            if failed <= args.show:
                report(args, index, program, rgb, frame, diffs)
    if args.stats:
        for key in sorted(EVENTS):
            print("  %-32s %d" % (key, EVENTS[key]))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed or not RUNNER.close() else 0


if __name__ == "__main__":
    sys.exit(main())
