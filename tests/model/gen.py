"""Seeded random programs for the vexlor model check.

The programs lean toward the places where the core's rules bite: refused operator pairs,
numbers in odd forms, blanks inside expressions, unknown names, wrong argument counts,
missing ';' or '=', assignments that cannot take effect, and the fixed limits (100
instructions, 100 pending calls, deep nesting, 94 new variables, 100-character
numbers, 255-character names).
"""

import decimal
import math
import re
from decimal import Decimal

import vexmodel

NAME = re.compile(r"[A-Za-z_][A-Za-z0-9_]*")

MAX_PROGRAM = 2047

BUILTIN_VARS = ["rs", "gs", "bs", "rd", "gd", "bd", "fr"]
NEW_VARS = ["x", "y", "_t", "v1", "E", "Pi", "t_2", "abc", "rdx", "X9"]
CONSTANTS = ["pi", "e"]
NEAR_NAMES = ["Pi", "E", "fabs", "Sin", "MAX", "foo", "rand2", "if_", "pie", "ee"]
UNARY = ["abs", "acos", "asin", "atan", "cos", "cosh", "deg", "exp", "fac", "log", "log10",
         "rad", "round", "sin", "sinh", "sqr", "sqrt", "tan", "tanh", "trunc", "floor", "ceil",
         "not"]
LISTS = ["max", "med", "min", "sum"]
GOOD_OPS = ["|", "~", "&", "==", "!=", "<", "<=", ">", ">=", "+", "-", "*", "/", "%", "^"]
BAD_OPS = ["&&", "||", "=", "!", "**", "<>", "=<", "=>", "~~", "^^", "<<", ">>", "%%", "+-",
           "-+", "*-", "/+", "^-", "*%", "/%", "!==", "===", "|~", "~|", "==!=", "<=<", ">=>",
           "<<=", "&&&", "^+"]
# Values at the edges of the 32-bit and 64-bit conversions, of fac and of round.
INTEGER_EDGES = ["2147483647", "2147483648", "4294967296", "4294967297", "3000000000",
                 "9223372036854775807", "9223372036854775808", "9223372036854774784",
                 "9223372036854775296", "18446744073709551616", "1e19", "2147483647.5",
                 "2147483648.5", "4294967295.9", "4294967301", "170", "171", "169.9", "2.5",
                 "0.5", "0.49999999999999994", "1.5", "-0.5", "0.125", "0.375", "2.675",
                 "1.005", "0.005", "0.015", "9223372036854777856", "1e-40", "1e-45", "7.006e-46",
                 "3.4028235e38", "3.4028236e38", "3.4028235677973366e38",
                 "3.4028235677973362e38", "1.1754943e-38", "-2147483648", "2147483647.99"]
# Expressions that give infinities, NaNs and signed zeros.
ODD_VALUES = ["(1e999-1e999)", "sqrt(-1)", "-sqrt(-1)", "(0/0)", "(1/0)", "(-1/0)", "(1/-0)",
            "log(0)", "acos(2)", "(1e999*0)", "-0", "(-0)", "-1e999", "(0*-1)", "exp(1000)",
            "(1e999%2)", "(2%0)", "(0^-1)", "((-8)^(1/3))", "fac(1e999)", "-(0/0)"]
ARITH_OPS = ["+", "-", "*", "/", "%", "^", "+", "-", "*", "/"]
RESERVED = set(BUILTIN_VARS + CONSTANTS + UNARY + LISTS + ["rand", "if"])
# Operators after which a prefix sign is refused.
SIGN_REFUSERS = {"+", "-", "*", "/", "%", "^"}
BLANKS = ["\t", "\n", "\r", "\v", "\f"]
JUNK = ["#", "$", "@", "?", ":", "\"", "'", "[", "]", "{", "}", "\\", ".", "`", "\x7f",
        "\x01", "\x1b", "\xe9", "\u20ac", "\xa0", "\xff"]


class Generator:
    """Draws programs, channel values and frame numbers from one random.Random."""

    def __init__(self, rng):
        self.r = rng
        self.budget = 0
        # Scales every choice that is likely to break a statement: 0 draws clean programs.
        self.noise = 1.0
        # New variables assigned so far in the program being drawn.
        self.known = []
        self.ops = GOOD_OPS

    def pick(self, seq):
        return self.r.choice(seq)

    def chance(self, p):
        return self.r.random() < p

    def rare(self, p):
        """A choice that tends to break the program, scaled by the program's noise."""
        return self.r.random() < p * self.noise

    # ---- numbers ----

    def digits(self, n, lead_nonzero=True):
        first = str(self.r.randint(1, 9)) if lead_nonzero else str(self.r.randint(0, 9))
        return first + "".join(str(self.r.randint(0, 9)) for _ in range(n - 1))

    def number(self):
        kind = self.r.randint(0, 21)
        if kind <= 5:
            return str(self.r.randint(0, 300))
        if kind <= 8:
            return "%d.%s" % (self.r.randint(0, 99), self.digits(self.r.randint(1, 4), False))
        if kind == 9:
            return self.pick([".5", "5.", ".25", "0.", "00012", "0.0", ".0", "007.50"])
        if kind == 10:
            return self.pick(["1e999", "1e-400", "1e308", "1.7976931348623157e308", "4.9e-324",
                              "2.5e-320", "1e-5", "3E2", "2e-1", "1E+2", "9e18", "1e10"])
        if kind == 11:
            if self.rare(0.5):
                return self.pick(["2ex", "1.2.3", "1e+x", "4..5", "1e2e3", ".", "..5", "1.e.5",
                                  ".e5", ".e", "0x10", "0X1p3", "1p5", "1_000", "1d5", "inf",
                                  "nan", "INF", "infinity", "0x", "1e5e", "1e--5", "1e+-5"])
            return self.pick(["2e", "2e+", "2E-", "5.e3", ".5e1", "3.e", "0e0", "7E", "1.5e-",
                              "1e0400", "1e-0400", "00.5", "0.5e+0", "1E-0"])
        if kind == 12:
            # Around the 100-character limit, counting the exponent's characters too.
            n = self.pick([101, 102, 150]) if self.rare(0.5) else self.pick([98, 99, 100])
            form = self.r.randint(0, 5)
            if form == 4:
                return self.digits(n - 2) + self.pick(["e+", "e-", "E1", "e9"])
            if form == 5:
                return "." + self.digits(n - 2) + "e"
            if form == 0:
                return self.digits(n)
            if form == 1:
                return "0." + self.digits(n - 2)
            if form == 2:
                return self.digits(n - 4) + "e-90"
            return "0" * (n - 1) + "7"
        if kind == 13:
            return self.pick(INTEGER_EDGES)
        if kind == 16:
            return self.pick(ODD_VALUES)
        if kind == 17:
            return self.hard_decimal()
        if kind == 14:
            return self.digits(self.r.randint(15, 40))
        return "%s" % self.pick(["1", "2", "3", "0", "10", "0.1", "0.3", "255", "256", "0.2"])

    # ---- names ----

    def variable(self):
        if self.known and self.chance(0.4):
            return self.pick(self.known)
        if self.rare(0.1):
            return self.pick(NEW_VARS)
        return self.pick(BUILTIN_VARS)

    def name(self):
        if self.rare(0.1):
            return self.pick(NEAR_NAMES)
        if self.chance(0.25):
            return self.pick(CONSTANTS)
        return self.variable()

    # ---- expressions ----

    def blank(self):
        """A separator between tokens: mostly nothing, sometimes a blank other than space."""
        if self.chance(0.9):
            return ""
        if self.rare(0.05):
            return " "
        return "".join(self.pick(BLANKS) for _ in range(self.r.randint(1, 2)))

    def operator(self):
        if self.rare(0.03):
            return self.pick(BAD_OPS)
        return self.pick(self.ops)

    def call(self, depth):
        if self.chance(0.55):
            fn = self.pick(UNARY)
            if self.rare(0.05):
                return fn + "(" + self.operand(depth + 1) + self.pick(BAD_OPS) + \
                    self.operand(depth + 1) + ")"
            if not self.rare(0.1):
                return fn + "(" + self.expr(depth + 1) + ")"
            return fn + self.pick(["()", "", "(1,2)", " (1)", "(1", "(()", "\t(2)", "2"])
        k = self.r.randint(0, 9)
        if k <= 4:
            fn = self.pick(LISTS)
            count = self.pick([0, 1, 1, 2, 2, 3, 4, 5])
        elif k <= 6:
            fn, count = "rand", (self.pick([1, 2]) if self.rare(0.15) else 0)
        else:
            fn, count = "if", (self.pick([0, 1, 2, 4]) if self.rare(0.2) else 3)
        args = [self.expr(depth + 1) for _ in range(count)]
        if args and self.rare(0.1):
            # A refused operator inside one argument, at any position.
            i = self.r.randrange(len(args))
            args[i] = self.operand(depth + 1) + self.pick(BAD_OPS) + self.operand(depth + 1)
        text = fn + "(" + ("," + self.blank()).join(args) + ")"
        if self.rare(0.06):
            text = self.damage_list(text, fn, args)
        return text

    def damage_list(self, text, fn, args):
        variants = [fn + "(" + ",".join(args) + ",)", fn + "(" + ",".join(args),
                    fn + "(," + ",".join(args) + ")", fn + "(" + " ".join(args) + ")",
                    fn + "(" + ",,".join(args or ["1"]) + ")", fn, fn + "(" + "1#" + ")",
                    fn + "(" + ",".join(args) + "))", fn + "((" + ",".join(args) + ")"]
        return self.pick(variants)

    def primary(self, depth):
        if depth > 6 or self.budget <= 0:
            return self.pick([self.number(), self.variable(), "rand()"])
        self.budget -= 1
        if self.rare(0.06):
            return self.pick(JUNK + ["~1", "!1", "!0", "--1", "+-1", "-+2", "rand", "max",
                                     "sin", "2^3^2", "x^-1", "(1)(2)", "1 2", "sin(1)2"])
        k = self.r.randint(0, 17)
        if k <= 6:
            return self.number()
        if k <= 11:
            return self.name()
        if k <= 15:
            return self.call(depth)
        if k <= 17:
            inner = self.expr(depth + 1)
            if self.rare(0.05):
                return self.pick(["()", "(" + inner, inner + ")", "((" + inner + ")"])
            return "(" + self.blank() + inner + self.blank() + ")"

    def operand(self, depth, after=""):
        prefix = ""
        if self.rare(0.03):
            prefix = self.pick(["--", "+-", "-+", "++"])
        elif self.chance(0.08) and (after.strip() not in SIGN_REFUSERS or self.rare(0.5)):
            prefix = self.pick(["-", "+", "-", "-\t"])
        return prefix + self.blank() + self.primary(depth)

    def expr(self, depth=0):
        if self.rare(0.03):
            return "%s^%s^%s" % (self.operand(depth), self.primary(depth), self.primary(depth))
        parts = [self.operand(depth)]
        previous = ""
        for _ in range(self.pick([0, 0, 1, 1, 1, 2, 2, 3, 4])):
            op = self.operator()
            if op == "^" and previous == "^" and not self.rare(0.5):
                op = "+"  # "a^b^c" leaves "^c" over
            previous = op
            parts.append(self.blank() + op + self.blank())
            parts.append(self.operand(depth, op))
        return "".join(parts)

    # ---- statements ----

    def lhs(self):
        k = self.r.randint(0, 29) if self.rare(0.5) else self.r.randint(0, 21)
        if k <= 14:
            return self.pick(["rd", "gd", "bd"])
        if k <= 19:
            return self.variable()
        if k <= 21:
            return self.pick(CONSTANTS + ["sin", "max", "rand", "if", "not", "abs"])
        if k == 22:
            return self.pick(["", " ", "1x", "a.b", "x-y", "\trd", "\nrd", "r d", "rd x",
                              " rd", "  gd  ", "rd\t", "\xe9t\xe9", "_", "__", "A", "x\u20ac"])
        if k == 23:
            n = self.pick([254, 255, 255, 256, 256, 300])
            return "v" + "a" * (n - 1)
        if k == 24:
            return " " * self.pick([1, 2, 5, 250, 300]) + self.variable()
        if k == 25:
            return self.variable() + " " + self.pick(["junk", "=", "x", "", "+1"])
        if k == 26:
            # A long left side whose name, cut at its first space, is short.
            return self.pick(["rd", "x", "y"]) + " " * self.r.randint(250, 300) + "z"
        return self.pick(NEW_VARS)

    def rhs(self):
        self.budget = self.r.randint(2, 14)
        text = self.expr()
        if self.chance(0.1):
            text = " " * self.r.randint(1, 3) + text
        if self.chance(0.05):
            text = text + " " + self.expr()
        if self.rare(0.04):
            text = text + "=" + self.expr()
        return text

    def statement(self):
        k = self.r.randint(0, 49) if self.rare(1.0) else 49
        if k == 0:
            return ""
        if k == 1:
            return self.lhs() + " " + self.rhs()
        if k == 2:
            return "=" + self.rhs()
        lhs = self.lhs()
        name = lhs.lstrip(" ").split(" ")[0]
        if NAME.fullmatch(name) and name not in self.known and name not in RESERVED:
            self.known.append(name)
        if k == 3:
            return lhs + "=" + self.rhs() + "=" + self.rhs()
        return lhs + "=" + self.rhs()

    def ordinary_program(self):
        stmts = [self.statement() for _ in range(self.pick([1, 2, 3, 3, 4, 4, 5, 6, 8]))]
        # A line break or tab after ';' belongs to the next name, which cannot be assigned.
        separator = self.pick([";"] * 6 + ["; ", ";\n", ";\r\n", ";\t", "; \n"])
        text = separator.join(stmts)
        ending = self.r.randint(0, 9)
        if ending <= 6:
            text += ";"
        elif ending == 7:
            text += ";" + self.pick(["rd=1", "bd=0.5", "junk", "  ", "\n", "gd=rs;x"])
        elif ending == 8:
            text += ";\n"
        return text

    # ---- programs at the limits ----

    def long_sum(self):
        """One operator chain of 98 to 101 instructions."""
        first = self.pick(["x=1;", "", "rd=rs;"])
        op = self.pick(["+", "-", "*", "|", "~", "&", "+", "<", "/", "%"])
        target = self.r.randint(98, 101)
        terms, cost = [], -1
        while cost < target:
            if self.chance(0.05) and cost + 3 <= target:
                terms.append(self.pick(["(-1)", "sin(2)", "(1^2)"]))
                cost += 3
            else:
                terms.append(self.pick(["1", "rs", "rand()", "0.5", "fr", "pi", "2", "bd"] +
                                       (["x"] if first == "x=1;" else [])))
                cost += 2
        body = op.join(terms)
        if self.chance(0.3):
            # Right-nested, so that the value stack grows to the length of the sum.
            body = "".join(t + op + "(" for t in terms[:-1]) + terms[-1] + ")" * (len(terms) - 1)
        return first + self.pick(["rd", "gd", "x"]) + "=" + body + ";"

    def long_list(self):
        """A list call of 98 to 101 instructions, most of them one value each."""
        fn = self.pick(["max", "min", "sum", "med", "med", "max", "if"])
        target = self.r.randint(98, 101)
        args, cost = [], 1
        while cost < target:
            if self.chance(0.05) and cost + 2 <= target:
                args.append(self.pick(["-2", "-rs", "sin(1)", "1+1"]))
                cost += 2
            else:
                args.append(self.pick(["1", "rs", "rand()", "0.25", "gs", "bs", "pi", "1e999"]))
                cost += 1
        return "rd=" + fn + "(" + ",".join(args) + ");gd=rd;bd=1;"

    def deep_parens(self):
        n = self.r.randint(122, 132)
        inner = self.pick(["1", "rs", "rand()", "sin(1)", "2*3", ""])
        return "rd=" + "(" * n + inner + ")" * n + ";gd=" + self.pick(["1", "rd"]) + ";"

    def deep_calls(self):
        n = self.r.randint(97, 102)
        fns = [self.pick(["sin(", "max(", "abs(", "sum(", "not(", "med(", "("])
               for _ in range(n)]
        inner = self.pick(["rand()", "1", "rs", "", "max()"])
        return "rd=" + "".join(fns) + inner + ")" * n + ";bd=2;"

    def mixed_nesting(self):
        """Parentheses and call arguments both count toward the nesting limit."""
        n = self.r.randint(122, 130)
        calls = self.r.randint(1, 30)
        opens = [self.pick(["sin(", "max(", "if(1,0,", "-(", "sum(rs,"]) for _ in range(calls)]
        opens += ["("] * (n - calls)
        self.r.shuffle(opens)
        return "gd=" + "".join(opens) + "1" + ")" * n + ";"

    def many_variables(self):
        n = self.r.randint(90, 100)
        names = ["a%d" % i for i in range(n)]
        stmts = ["%s=%d" % (nm, i + 1) for i, nm in enumerate(names)]
        reads = [self.pick(names) for _ in range(3)]
        stmts.append("rd=%s/100" % reads[0])
        stmts.append("gd=%s/100+a93*0" % reads[1])
        stmts.append("bd=%s+%s" % (self.pick(names[-8:]), self.pick(["a0", "a94", "a95"])))
        return ";".join(stmts) + ";"

    # ---- precision probes ----

    def hard_decimal(self):
        """A decimal at or next to the midpoint of two neighbouring doubles."""
        d = self.r.uniform(1.0, 2.0) * 2.0 ** self.r.randint(-70, 70)
        with decimal.localcontext() as ctx:
            ctx.prec = 400
            mid = (Decimal(d) + Decimal(math.nextafter(d, math.inf))) / 2
            nudge = self.pick([0, 0, 1, -1])
            if nudge:
                mid += nudge * mid.scaleb(-self.r.randint(18, 40))
            digits, exponent = format(mid, "e").split("e")
        digits = digits[:self.r.randint(17, 80)].rstrip(".")
        return digits + "e" + str(int(exponent))

    def probe_operand(self):
        k = self.r.randint(0, 3)
        if k == 0:
            return self.hard_decimal()
        if k == 1:
            return repr(self.r.uniform(-10.0, 10.0))
        if k == 2:
            return repr(self.r.uniform(0.0, 1.0) * 10.0 ** self.r.randint(-20, 20))
        return self.pick(INTEGER_EDGES + ["0.1", "0.2", "0.3", "pi", "e", "1e-310", "3"])

    def probe_expression(self):
        """A constant expression whose last bit depends on conversions and library calls."""
        a, b, c = self.probe_operand(), self.probe_operand(), self.probe_operand()
        k = self.r.randint(0, 9)
        if k <= 2:
            return "%s(%s)" % (self.pick(UNARY), a)
        if k == 3:
            return "(%s)%s(%s)" % (a, self.pick(["^", "%", "/", "*", "+", "-"]), b)
        if k == 4:
            return "fac(%d)" % self.r.randint(3, 171)
        if k == 5:
            return "%s(%s,%s,%s)" % (self.pick(LISTS), a, b, c)
        if k == 6:
            return self.pick(["max(0,-0)", "max(-0,0)", "min(0,-0)", "min(-0,0)",
                              "sum(0.1,0.2,0.3)", "sum(0.3,0.2,0.1)", "med(0.1,0.2,0.3,0.4)",
                              "sum(1e16,1,-1e16)", "sum(-1e16,1e16,1)", "med(1e308,1e308)",
                              "max(0/0,1)", "max(1,sqrt(-1))", "min(sqrt(-1),-1)"])
        if k == 7:
            return a
        if k == 8:
            return "%s(%s)%s%s(%s)" % (self.pick(UNARY), a, self.pick(["*", "/", "+", "-"]),
                                       self.pick(UNARY), b)
        return "(%s)^%s" % (a, self.pick(["0.5", "2", "3", "-1", "(1/3)", "0.1", "100"]))

    def probe(self):
        """Statements that magnify a last-bit difference of a double into a visible one."""
        stmts = []
        for target in ("rd", "gd", "bd"):
            x = self.probe_expression()
            v = vexmodel.constant_value(x.encode())
            if v is None or not math.isfinite(v) or v == 0.0:
                stmts.append("%s=%s" % (target, x))
                continue
            scale = 2.0 ** max(-1000, min(1000, 52 - math.frexp(v)[1]))
            stmts.append("%s=((%s)-(%s))*%r" % (target, x, repr(v), scale))
        return ";".join(stmts) + ";"

    def rand_probe(self):
        """Counts the rand() values whose last bit differs from a true division by 32767.

        Few generator outputs differ (the first ones at calls 60, 69 and 88 of a fresh
        process), so the probe skips ahead before it compares.
        """
        skip = self.r.randint(45, 58)
        stmts = ["n=0", "m=sum(" + ",".join(["rand()"] * skip) + ")"]
        for _ in range(self.r.randint(30, 34)):
            stmts.append("x=rand();n=n+(x!=round(x*32767)/32767)")
        stmts += ["rd=n", "gd=m", "bd=rand()"]
        return ";".join(stmts) + ";"

    def limits_program(self):
        maker = self.pick([self.long_sum, self.long_sum, self.long_list, self.deep_parens,
                           self.deep_calls, self.mixed_nesting, self.many_variables])
        return maker()

    # ---- mutation ----

    def mutate(self, text):
        pool = JUNK + BLANKS + [" ", ";", "=", "(", ")", ",", "-", "+", "e", ".", "1", "x", "^"]
        for _ in range(self.r.randint(1, 3)):
            if not text:
                text = self.pick(pool)
                continue
            i = self.r.randrange(len(text) + 1)
            k = self.r.randint(0, 3)
            if k == 0:
                text = text[:i] + self.pick(pool) + text[i:]
            elif k == 1:
                text = text[:i] + text[i + 1:]
            elif k == 2:
                j = self.r.randrange(len(text) + 1)
                a, b = min(i, j), max(i, j)
                text = text[:b] + text[a:b] + text[b:]
            else:
                text = text[:i] + self.pick(["\t", "\n", " "]) + text[i:]
        return text

    # ---- cases ----

    def program(self):
        k = self.r.randint(0, 19)
        self.noise = self.pick([0.0, 0.0, 0.0, 0.3, 1.0, 1.0, 2.0])
        # Some programs compute with arithmetic alone, so that values stay varied.
        self.ops = GOOD_OPS if self.chance(0.6) else ARITH_OPS
        if k <= 2:
            text = self.limits_program()
        elif k <= 4:
            text = self.probe() if self.chance(0.85) else self.rand_probe()
        else:
            text = self.ordinary_program()
        if self.rare(0.15):
            text = self.mutate(text)
        # Raw single high bytes as well as UTF-8 sequences.
        encoding = "latin-1" if self.chance(0.3) else "utf-8"
        data = text.encode(encoding, errors="replace")[:MAX_PROGRAM]
        data = data.replace(b"\0", b"0")
        if data.startswith(b"--") or data == b"-f":
            data = b"x" + data  # the command line would take it for an option
        return data

    def channel(self):
        if self.chance(0.5):
            return repr(self.r.randrange(256) / 256.0)
        k = self.r.randint(0, 9)
        if k <= 4:
            return repr(self.r.uniform(-0.5, 1.5))
        if k == 5:
            return repr(self.r.uniform(-1e6, 1e6))
        if k == 6:
            return self.pick(["0", "-0", "1", "0.99999999", "1e-40", "3.4028235e38", "1e39",
                              "-1e39", "inf", "-inf", "nan"])
        if k == 7:
            return repr(self.r.random() * 10.0 ** self.r.randint(-30, 30))
        return repr(self.r.random())

    def frame(self):
        k = self.r.randint(0, 5)
        if k <= 1:
            return self.r.randint(0, 1000)
        if k == 2:
            return self.r.randint(-1000, -1)
        if k == 3:
            return self.pick([0, 1, 100, 2147483647, -2147483648, 250])
        return self.r.randint(-2**31, 2**31 - 1)

    def case(self):
        """One case: (program bytes, [R, G, B] texts or None, frame or None)."""
        program = self.program()
        rgb = None if self.chance(0.1) else [self.channel() for _ in range(3)]
        frame = None if self.chance(0.1) else self.frame()
        return program, rgb, frame

    def expression(self):
        """One expression as CompileExpression receives it (blanks of every kind kept)."""
        self.noise = self.pick([0.0, 0.3, 1.0, 1.0, 2.0])
        self.ops = GOOD_OPS if self.chance(0.7) else ARITH_OPS
        k = self.r.randint(0, 9)
        if k <= 6:
            text = self.rhs()
        else:
            program = self.limits_program() if k <= 8 else self.probe()
            statements = [st for st in program.split(";") if "=" in st]
            text = self.pick(statements).split("=", 1)[1]
        if self.rare(0.15):
            text = self.mutate(text)
        if self.rare(0.03):
            # The text ends at its first NUL.
            i = self.r.randrange(len(text) + 1)
            text = text[:i] + "\0" + self.pick(["", "+", "1", ")", "+1"]) + text[i:]
        return text.encode("latin-1" if self.chance(0.3) else "utf-8", errors="replace")
