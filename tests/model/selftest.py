#!/usr/bin/env python3
"""Pins the Python model to the language's documented behaviour, without the C++ core.

A model that drifted would make check.py agree with a wrong core, so the model answers
these fixed questions first.
"""

import math
import os
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import vexmodel as m  # noqa: E402

# Expression -> code CompileExpression returns.
CODES = [
    ("1+2*3", 0), ("2-(-3)", 0), ("1&2", 0), ("(2^3)^2", 0), ("max()", 0), ("rand()", 0),
    ("2*-3", 61), ("2+-3", 61), ("2--3", 61), ("--2", 61), ("2^-1", 61), ("2*%3", 61),
    ("1&&2", 61), ("2^3^2", 61), ("", 51), ("2+", 51), ("sin", 53), ("sin 2", 61),
    ("sin()", 61), ("()", 61), ("(()", 52), ("(2", 54), ("sin(2", 54), ("max(1", 54),
    ("max(1,)", 55), ("max(1 2)", 61), ("max(1,,2)", 61), ("rand(1)", 61), ("if(1,2)", 61),
    ("(rand(1)", 61), ("foo", 61), ("#", 61), ("fabs(1)", 61), ("2<-1", 0), ("2&-1", 0),
    ("1.2.3", 61), ("2e", 0), ("2e+", 0), ("2ex", 61), (".", 61), ("a=b", 61), ("!=", 51),
    ("1" * 100, 0), ("1" * 101, 61), ("1" * 98 + "e+", 0), ("1" * 99 + "e+", 61),
    ("+".join(["1"] * 50), 0), ("+".join(["1"] * 51), 62),
    ("(" * 127 + "1" + ")" * 127, 0), ("(" * 1023 + "1" + ")" * 1023, 0),
    ("(" * 2047 + "1" + ")" * 2047, 0), ("(" * 2048 + "1" + ")" * 2048, 62),
    ("(" * 2048 + "1", 62), ("(" * 2047 + "1", 54), ("(" * 2047, 54),
    ("-(" * 127 + "1" + ")" * 127, 62), ("1+2*(" * 500 + "1" + ")" * 500, 62),
    ("max(" * 100 + ")" * 100, 0), ("sin(" * 100 + "1" + ")" * 100, 62),
    ("1+2\0+", 0), ("\t1\n+\v2\f*\r3", 0), ("1\xe9", 61),
]

# Program -> values of rd, gd, bd printed by `vexlor pixel` on 0.5, 0.25, 0.125 at frame 250,
# or None when the program does not run.
PIXELS = [
    ("rd=rs;gd=gs;bd=bs;", "0.5 0.25 0.125"),
    ("rd=fr/1000;gd=0;bd=0;", "0.25 0 0"),
    ("", "0 0 0"), ("rd=0.5", "0 0 0"), ("rd 0.5;", None), ("rd=;", None), ("rd=0.5;;", None),
    ("pi=3;rd=pi;gd=0;bd=0;", "3.14159274 0 0"),
    ("t=rs*2;rd=t;gd=t;bd=t;", "1 1 1"),
    ("rd= rs;gd=rs *2;bd=rs*2;", "0.5 0.5 1"),
    ("sin=1;rd=1;gd=1;bd=1;", "1 1 1"), ("=1;rd=1;gd=1;bd=1;", "1 1 1"),
    ("rs=1-rs;rd=rs;", "0.5 0 0"), ("x=x+1;x=x+1;rd=x;", "2 0 0"),
    ("rd=1;\ngd=1;\nbd=1;", "1 0 0"), ("rd=a==b;", None), ("rd=gs==gs;", "1 0 0"),
    ("rd=-2^2;gd=-0;bd=2^0.5;", "4 -0 1.41421354"),
    ("rd=1/0;gd=0/0;bd=-1/0;", "inf inf inf"),
    ("rd=sqrt(-1);gd=-sqrt(-1);bd=1e999-1e999;", "-nan nan -nan"),
    ("rd=-1|0;gd=2.9&3;bd=4294967297|0;", "-1 2 1"),
    ("rd=trunc(-2.7);gd=round(2.5);bd=round(-1.2);", "-2 3 0"),
    ("rd=round(-1.7);gd=trunc(3000000000);bd=fac(5.9);", "-1 -1.2949673e+09 120"),
    ("rd=fac(-0.5);gd=fac(-1);bd=fac(171);", "1 0 34"),
    ("rd=not(0);gd=not(0.001);bd=not(0/0-1e999);", "1 0 0"),
    ("rd=if(0,1,2);gd=if(-3,1,2);bd=if(sqrt(-1),1,2);", "2 1 1"),
    ("rd=max(1,5,5,2);gd=min(4);bd=med(1,2,6);", "5 4 3"),
    ("rd=max();gd=sum();bd=med();", "0 0 0"),
    ("rd=rand()*32767;gd=rand()*32767;bd=rand()*32767;", "41 18467 6334"),
    ("rd=deg(pi)-180;gd=rad(180)-3.14159265358;bd=e;", "2.84217094e-14 4.4408921e-16 2.8499999"),
    ("rd=7%(-3);gd=-7%3;bd=2^3;", "1 -1 8"), ("rd=7%-3;", None),
    ("E=2;rd=E;gd=Pi;", None), ("E=2;rd=E;", "2 0 0"),
    ("rd=1.5e-;gd=.5;bd=5.;", "1.5 0.5 5"),
]

# Program -> `vexlor test`'s message.
MESSAGES = [
    ("rd=rs;gd=gs;bd=bs;",
     "Expression Successfully Parsed : result (0.5,0.5,0.5,fr=100) = 0.50 0.50 0.50"),
    ("rd=fr/200;gd=rs*4;bd=0-1;",
     "Expression Successfully Parsed : result (0.5,0.5,0.5,fr=100) = 0.50 2.00 -1.00"),
    ("rd 0.5;", "Error in expression !"),
    ("rd=-0;gd=1e39;bd=0.125;",
     "Expression Successfully Parsed : result (0.5,0.5,0.5,fr=100) = -0.00 inf 0.12"),
]


def main():
    failures = []
    for text, want in CODES:
        got = m.compile_result(text.encode("latin-1"))[0]
        if got != want:
            failures.append("code of %r: want %d, got %d" % (text, want, got))
    for text, want in PIXELS:
        out, status = m.pixel_output(text.encode(), 0.5, 0.25, 0.125, 250)
        got = out.decode().strip() if status == 0 else None
        if got != want:
            failures.append("pixel %r: want %r, got %r" % (text, want, got))
    for text, want in MESSAGES:
        got = m.test_output(text.encode())[0].decode().rstrip("\n")
        if got != want:
            failures.append("test %r: want %r, got %r" % (text, want, got))
    checks = [
        (m.to_int32(-2.7), -2), (m.to_int32(3e9), -1294967296), (m.to_int32(2.0**63), 0),
        (m.to_int32(1e19), 0), (m.to_int32(-(2.0**63)), 0), (m.to_int32(math.nan), 0),
        (m.to_int32(2.0**52 + 5), 5), (m.f32(1e39), math.inf), (m.f32(0.99999999), 1.0),
        (abs(m.fac(170) / math.factorial(170) - 1) < 1e-14, True), (m.fac(6), 720.0), (m.convert_number(b"1e-400"), 0.0),
    ]
    for i, (got, want) in enumerate(checks):
        if got != want:
            failures.append("helper check %d: want %r, got %r" % (i, want, got))
    for f in failures:
        print(f)
    total = len(CODES) + len(PIXELS) + len(MESSAGES) + len(checks)
    print("%d passed, %d failed" % (total - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
