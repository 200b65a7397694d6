#!/usr/bin/env python3
"""No false warnings on the model generator's programs that assign all three outputs.

The generator's precision probes assign rd, gd and bd in turn, its rand() probes end with
rd=n;gd=m;bd=rand();, and its long list calls with rd=...;gd=rd;bd=1;. Each program that
runs must get no part without effect and no unassigned channel from `vexlor check`, which
reports what apply and stream warn about (a note and its "fix:" line).

    python3 tests/cli/no_false_warnings.py --vexlor build/release/cli/vexlor --count 300
"""

import argparse
import os
import random
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "model"))

import gen  # noqa: E402
import runner  # noqa: E402


def programs(seed, count):
    """Programs of the generator's kinds that assign all three outputs, as bytes."""
    makers = ["probe", "rand_probe", "long_list"]
    for i in range(count):
        g = gen.Generator(random.Random("%d:%d" % (seed, i)))
        g.noise = 0.0
        yield getattr(g, makers[i % len(makers)])().encode("utf-8")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--vexlor", required=True)
    ap.add_argument("--count", type=int, default=300)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--batch", help="run the checks through this batch runner "
                    "(tests/model/batch.cpp) instead of a process each")
    args = ap.parse_args()
    run = runner.Runner(args.vexlor, args.batch)
    checked = false = 0
    for program in programs(args.seed, args.count):
        out, status = run.run(["check", program], 30)
        if status != 0:
            continue  # does not run: apply and stream refuse it, nothing to warn about
        checked += 1
        if b"fix:" in out or not out.endswith(b"\nthe program runs\n"):
            false += 1
            print("false warning for %r:\n%s" % (program, out.decode("utf-8", "replace")))
    print("%d passed, %d failed" % (checked - false, false))
    clean = run.close()
    return 1 if false or checked < args.count // 2 or not clean else 0


if __name__ == "__main__":
    sys.exit(main())
