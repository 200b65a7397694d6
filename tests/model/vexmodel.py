"""An independent, deliberately plain model of vexlor's portable core.

It follows the language rules step by step (lexer, symbol tables, the eight-level compiler,
the evaluator, the built-ins, the statement runner and the dialog's test message) so that the
C++ core can be checked against it program by program. Mathematical functions are the C
library's own, called through ctypes, so both sides make the same library calls.
"""

import collections
import ctypes
import math
import struct
import sys

# Each nesting level of an expression costs a few Python frames, and a text may nest
# up to the bound.
sys.setrecursionlimit(max(sys.getrecursionlimit(), 60000))

_libm = ctypes.CDLL("libm.so.6")


def _cfunc(name, nargs):
    f = getattr(_libm, name)
    f.restype = ctypes.c_double
    f.argtypes = [ctypes.c_double] * nargs
    return f


c_sin, c_cos, c_tan = _cfunc("sin", 1), _cfunc("cos", 1), _cfunc("tan", 1)
c_asin, c_acos, c_atan = _cfunc("asin", 1), _cfunc("acos", 1), _cfunc("atan", 1)
c_sinh, c_cosh, c_tanh = _cfunc("sinh", 1), _cfunc("cosh", 1), _cfunc("tanh", 1)
c_exp, c_log, c_log10 = _cfunc("exp", 1), _cfunc("log", 1), _cfunc("log10", 1)
c_sqrt, c_floor, c_ceil, c_fabs = _cfunc("sqrt", 1), _cfunc("floor", 1), _cfunc("ceil", 1), _cfunc("fabs", 1)
c_pow, c_fmod = _cfunc("pow", 2), _cfunc("fmod", 2)

# Token kinds.
MINUS, PLUS, STAR, SLASH, PERCENT, CARET = 3, 4, 10, 11, 12, 13
NUMBER, UNARY, LIST, VARIABLE, UNDEFINED = 20, 21, 22, 23, 24
LPAREN, COMMA, RPAREN, END, BADNUM, INVALID = 30, 31, 33, 37, 38, 40
LT, LE, GT, GE, EQ, NE, AND, OR, XOR = 51, 52, 53, 54, 55, 56, 57, 58, 59

# Instruction kinds.
I_END, I_PUSHC, I_PUSHV, I_UNARY, I_BINARY, I_LIST = 0, 1, 2, 3, 4, 5

MAX_INSTRUCTIONS = 100
STACK_SIZE = 100
PENDING_SIZE = 100
VARIABLE_ENTRIES = 101
MAX_NESTING = 2048
MAX_NAME = 255
MAX_NUMBER = 100

BLANKS = b" \t\n\v\f\r"


def to_int32(x):
    """Truncates toward zero to 64 bits and keeps the low 32 bits, signed; 0 when out of range."""
    if not math.isfinite(x) or x >= 2.0**63 or x < -(2.0**63):
        return 0
    n = int(x) & 0xFFFFFFFF
    return n - (1 << 32) if n >= (1 << 31) else n


def f32(x):
    """Rounds a double to single precision like C's (float) cast."""
    try:
        return struct.unpack("f", struct.pack("f", x))[0]
    except OverflowError:
        return math.copysign(math.inf, x)


def c_format(fmt, x):
    """printf-style formatting of one double, with glibc's spelling of NaNs."""
    if math.isnan(x):
        return "-nan" if math.copysign(1.0, x) < 0 else "nan"
    return fmt % x


# ---- operators -------------------------------------------------------------------------

def _div(a, b):
    return math.inf if b == 0.0 else a / b


BINARY = {
    OR: lambda a, b: float(to_int32(a) | to_int32(b)),
    XOR: lambda a, b: float(to_int32(a) ^ to_int32(b)),
    AND: lambda a, b: float(to_int32(a) & to_int32(b)),
    EQ: lambda a, b: 1.0 if a == b else 0.0,
    NE: lambda a, b: 1.0 if a != b else 0.0,
    LT: lambda a, b: 1.0 if a < b else 0.0,
    LE: lambda a, b: 1.0 if a <= b else 0.0,
    GT: lambda a, b: 1.0 if a > b else 0.0,
    GE: lambda a, b: 1.0 if a >= b else 0.0,
    PLUS: lambda a, b: a + b,
    MINUS: lambda a, b: a - b,
    STAR: lambda a, b: a * b,
    SLASH: _div,
    PERCENT: lambda a, b: c_fmod(a, b),
    CARET: lambda a, b: c_pow(a, b),
}


def negate(x):
    return -x


# Precedence levels 1 to 7: (operator kinds, kinds refused right after an operator).
LEVELS = {
    1: ({OR, XOR}, {OR, XOR}),
    2: ({AND}, {AND}),
    3: ({EQ, NE}, {EQ, NE}),
    4: ({LT, LE, GT, GE}, {LT, LE, GT, GE}),
    5: ({PLUS, MINUS}, {PLUS, MINUS}),
    6: ({STAR, SLASH, PERCENT}, {PLUS, MINUS, PERCENT}),
    7: ({CARET}, {PLUS, MINUS}),
}


# ---- built-in functions ----------------------------------------------------------------

def fac(x):
    n = to_int32(x)
    if n > 170:
        return 34.0
    if n < 0:
        return 0.0
    if n < 2:
        return 1.0
    if n == 2:
        return 2.0
    r = 1.0
    for k in range(n, 1, -1):
        r = r * float(k)
    return r


UNARY_FUNCTIONS = [
    (b"abs", lambda x: c_fabs(x)),
    (b"acos", lambda x: c_acos(x)),
    (b"asin", lambda x: c_asin(x)),
    (b"atan", lambda x: c_atan(x)),
    (b"cos", lambda x: c_cos(x)),
    (b"cosh", lambda x: c_cosh(x)),
    (b"deg", lambda x: x * 57.29577951326093),
    (b"exp", lambda x: c_exp(x)),
    (b"fac", fac),
    (b"log", lambda x: c_log(x)),
    (b"log10", lambda x: c_log10(x)),
    (b"rad", lambda x: x * 0.01745329251988889),
    (b"round", lambda x: float(to_int32(x + 0.5))),
    (b"sin", lambda x: c_sin(x)),
    (b"sinh", lambda x: c_sinh(x)),
    (b"sqr", lambda x: x * x),
    (b"sqrt", lambda x: c_sqrt(x)),
    (b"tan", lambda x: c_tan(x)),
    (b"tanh", lambda x: c_tanh(x)),
    (b"trunc", lambda x: float(to_int32(x))),
    (b"floor", lambda x: c_floor(x)),
    (b"ceil", lambda x: c_ceil(x)),
    (b"not", lambda x: 1.0 if x == 0.0 else 0.0),
]


def _fold(stack, depth, n, step):
    """Starts from the last argument (the top) and walks toward the first; 0.0 for none."""
    if n == 0:
        return 0.0
    r = stack[depth - 1]
    for v in reversed(stack[depth - n:depth - 1]):
        r = step(r, v)
    return r


def list_max(eng, stack, depth, n):
    return _fold(stack, depth, n, lambda r, v: v if r < v else r)


def list_min(eng, stack, depth, n):
    return _fold(stack, depth, n, lambda r, v: v if r > v else r)


def list_sum(eng, stack, depth, n):
    return _fold(stack, depth, n, lambda r, v: r + v)


def list_med(eng, stack, depth, n):
    if n == 0:
        return 0.0
    return list_sum(eng, stack, depth, n) / float(n)


def list_rand(eng, stack, depth, n):
    eng.rand_state = (eng.rand_state * 214013 + 2531011) & 0xFFFFFFFF
    return float((eng.rand_state >> 16) & 0x7FFF) * 3.051850947599719e-05


def list_if(eng, stack, depth, n):
    c, a, b = stack[depth - n:depth]
    return a if c != 0.0 else b


LIST_FUNCTIONS = [
    (b"max", -1, list_max),
    (b"med", -1, list_med),
    (b"min", -1, list_min),
    (b"rand", 0, list_rand),
    (b"sum", -1, list_sum),
    (b"if", 3, list_if),
]

CONSTANTS = [(b"pi", 3.14159265358), (b"e", 2.85)]

BUILTIN_VARIABLES = [b"rs", b"gs", b"bs", b"rd", b"gd", b"bd", b"fr"]


class Token:
    __slots__ = ("kind", "arity", "value")

    def __init__(self, kind, arity=0, value=None):
        self.kind, self.arity, self.value = kind, arity, value


def _is_letter(c):
    return 65 <= c <= 90 or 97 <= c <= 122


def _is_digit(c):
    return 48 <= c <= 57


def _is_name_char(c):
    return _is_letter(c) or _is_digit(c) or c == 95


SINGLE_CHARS = {
    ord("+"): PLUS, ord("-"): MINUS, ord("*"): STAR, ord("/"): SLASH, ord("%"): PERCENT,
    ord("^"): CARET, ord("("): LPAREN, ord(","): COMMA, ord(")"): RPAREN, ord("&"): AND,
    ord("|"): OR, ord("~"): XOR,
}

# First character -> (kind when followed by '=', kind otherwise).
PAIRED_CHARS = {
    ord("<"): (LE, LT), ord(">"): (GE, GT), ord("="): (EQ, INVALID), ord("!"): (NE, INVALID),
}


def convert_number(text):
    """Decimal conversion of a lexed number: an exponent without digits is not part of it."""
    s = text.decode("ascii")
    low = s.lower()
    i = low.find("e")
    if i >= 0 and not any(ch.isdigit() for ch in s[i + 1:]):
        s = s[:i]
    return float(s)


class Engine:
    """One process's engine: the single engine state plus rand()'s generator."""

    def __init__(self, events=None):
        self.rand_state = 1
        self.variables = []  # [name, slot index]
        self.slots = []
        self.error = 0
        self.text = b""
        self.pos = 0
        self.tok = Token(END)
        self.program = []
        self.pending = []
        self.nesting = 0
        self.too_deep = False  # the nesting bound stopped the compilation
        # What the runs touched, for the coverage summary.
        self.events = collections.Counter() if events is None else events

    def record(self, code):
        # Once the nesting bound stopped a compilation, its code stands.
        if self.too_deep:
            return
        self.error = code
        self.events["recorded %d" % code] += 1

    # ---- symbol tables ----

    def find_variable(self, name):
        for entry in self.variables:
            if entry[0] == name:
                return entry
        return None

    def classify(self, name):
        for fname, handler in UNARY_FUNCTIONS:
            if fname == name:
                return Token(UNARY, 0, handler)
        for fname, arity, handler in LIST_FUNCTIONS:
            if fname == name:
                return Token(LIST, arity, handler)
        entry = self.find_variable(name)
        if entry is not None:
            return Token(VARIABLE, 0, entry[1])
        for cname, value in CONSTANTS:
            if cname == name:
                return Token(NUMBER, 0, value)
        return Token(UNDEFINED)

    def is_new_variable_name(self, name):
        if not name or not (_is_letter(name[0]) or name[0] == 95):
            return False
        if not all(_is_name_char(c) for c in name):
            return False
        return self.classify(name).kind == UNDEFINED

    def register_variable(self, name, slot):
        entry = self.find_variable(name)
        if entry is not None:
            entry[1] = slot
            return 1
        if not self.is_new_variable_name(name):
            return 0
        if len(self.variables) >= VARIABLE_ENTRIES:
            self.events["variable table full"] += 1
            return 0
        self.variables.append([name, slot])
        return 1

    def set_variable(self, name, value):
        entry = self.find_variable(name)
        if entry is None:
            return 0
        self.slots[entry[1]] = value
        return 1

    def get_variable(self, name):
        entry = self.find_variable(name)
        if entry is not None:
            self.error = 0
            return self.slots[entry[1]]
        for cname, value in CONSTANTS:
            if cname == name:
                self.error = 0
                return value
        self.record(59)
        return 0.0

    # ---- lexer ----

    def char(self, p):
        return self.text[p] if p < len(self.text) else 0

    def next_token(self):
        p = self.pos
        while self.char(p) != 0 and self.char(p) in BLANKS:
            p += 1
        c = self.char(p)
        if c == 0:
            self.pos = p
            self.tok = Token(END)
            return END
        if _is_digit(c) or c == 46:
            q, dot = p, False
            while _is_digit(self.char(q)) or (self.char(q) == 46 and not dot):
                dot = dot or self.char(q) == 46
                q += 1
            if not (q - p == 1 and c == 46):
                if self.char(q) in (ord("e"), ord("E")):
                    q += 1
                    if self.char(q) in (ord("+"), ord("-")):
                        q += 1
                    while _is_digit(self.char(q)):
                        q += 1
                taken = self.text[p:q]
                self.pos = q
                self.events["number of %s characters" % (
                    len(taken) if len(taken) in (100, 101) else "other")] += 1
                if len(taken) > MAX_NUMBER:
                    self.tok = Token(BADNUM, 0, 0.0)
                else:
                    self.tok = Token(NUMBER, 0, convert_number(taken))
                return self.tok.kind
        if _is_letter(c) or c == 95:
            q = p
            while _is_name_char(self.char(q)):
                q += 1
            self.pos = q
            self.tok = self.classify(self.text[p:q])
            return self.tok.kind
        self.pos = p + 1
        if c in SINGLE_CHARS:
            kind = SINGLE_CHARS[c]
        elif c in PAIRED_CHARS:
            with_eq, alone = PAIRED_CHARS[c]
            if self.char(p + 1) == ord("="):
                self.pos = p + 2
                kind = with_eq
            else:
                kind = alone
        else:
            kind = INVALID
        self.tok = Token(kind)
        return kind

    # ---- compiler ----

    def emit(self, kind, count, operand):
        if len(self.program) >= MAX_INSTRUCTIONS:
            self.events["program full"] += 1
            self.record(62)
            return
        self.program.append((kind, count, operand))

    def push_pending(self, tok):
        if len(self.pending) >= PENDING_SIZE:
            self.events["pending calls full"] += 1
            self.record(62)
            return
        self.pending.append(tok)

    def pop_pending(self):
        return self.pending.pop() if self.pending else Token(UNDEFINED)

    def compile_expression(self, text):
        self.text = text.split(b"\0", 1)[0]
        self.pos = 0
        self.pending = []
        self.program = []
        self.error = 0
        self.nesting = 0
        self.too_deep = False
        self.next_token()
        self.compile_level(1, True)
        if self.tok.kind != END:
            self.record(61)
        return self.error

    def compile_level(self, level, deeper=False):
        """deeper: one nesting level more (the whole text, a parenthesis, an argument or a
        right-hand side); the levels a left operand passes through are no deeper."""
        if deeper:
            if self.nesting >= MAX_NESTING:
                self.events["nesting limit"] += 1
                self.record(62)
                # The compilation ends here: the text ends, the levels unwind.
                self.too_deep = True
                self.pos = len(self.text)
                self.tok = Token(END)
                return
            self.nesting += 1
            try:
                self.compile_level(level)
            finally:
                self.nesting -= 1
        elif level == 8:
            self.compile_sign()
        else:
            self.compile_operators(level)

    def compile_operators(self, level):
        ops, refused = LEVELS[level]
        self.compile_level(level + 1)
        while self.tok.kind in ops:
            op = self.tok.kind
            self.next_token()
            if self.tok.kind in refused:
                self.record(61)
                return
            self.compile_level(level + 1, True)
            self.emit(I_BINARY, 0, BINARY[op])
            if level == 7:
                return

    def compile_sign(self):
        sign = None
        if self.tok.kind in (PLUS, MINUS):
            sign = self.tok.kind
            self.next_token()
            if self.tok.kind in (PLUS, MINUS):
                self.record(61)
                return
        self.compile_primary()
        if sign == MINUS:
            self.emit(I_UNARY, 0, negate)

    def compile_primary(self):
        tok = self.tok
        k = tok.kind
        if k == NUMBER:
            self.emit(I_PUSHC, 0, tok.value)
            self.next_token()
        elif k == VARIABLE:
            self.emit(I_PUSHV, 0, tok.value)
            self.next_token()
        elif k == LPAREN:
            if self.next_token() == RPAREN:
                self.record(52)
                return
            self.compile_level(1, True)
            if self.tok.kind == RPAREN:
                self.next_token()
                return
            self.record(54)
        elif k == UNARY:
            self.push_pending(tok)
            if self.next_token() != LPAREN:
                self.record(53)
                return
            if self.next_token() == RPAREN:
                self.record(52)
                return
            self.compile_level(1, True)
            if self.tok.kind != RPAREN:
                self.record(54)
                return
            self.tok = self.pop_pending()
            if self.tok.kind == UNARY:
                self.emit(I_UNARY, 0, self.tok.value)
            self.next_token()
        elif k == LIST:
            self.push_pending(tok)
            if self.next_token() != LPAREN:
                self.record(53)
                return
            self.compile_arguments()
        elif k == END:
            self.record(51)
        elif k == UNDEFINED:
            self.record(60)
        elif k == BADNUM:
            self.record(57)
        else:
            self.record(55)

    def compile_arguments(self):
        count = 0
        if self.next_token() != RPAREN:
            self.compile_level(1, True)
            count = 1
            while True:
                k = self.tok.kind
                if self.error != 0:
                    if k == RPAREN:
                        break
                    self.record(54)
                    return
                if k == RPAREN:
                    break
                if k == COMMA:
                    self.next_token()
                    count += 1
                    self.compile_level(1, True)
                    continue
                self.record(54 if k == END else 55)
                return
        self.tok = self.pop_pending()
        if self.tok.kind != LIST:
            return
        if self.tok.arity == -1 or self.tok.arity == count:
            self.emit(I_LIST, count, self.tok.value)
            self.next_token()
        else:
            self.record(56)

    # ---- evaluator ----

    def evaluate(self):
        stack = [0.0] * STACK_SIZE
        depth = deepest = 0
        for kind, count, operand in self.program:
            deepest = max(deepest, depth)
            if kind == I_PUSHC:
                if depth == STACK_SIZE:
                    self.record(62)
                    return 0.0
                stack[depth] = operand
                depth += 1
            elif kind == I_PUSHV:
                depth += 1
                stack[depth - 1] = self.slots[operand]
            elif kind == I_UNARY:
                stack[depth - 1] = operand(stack[depth - 1])
            elif kind == I_BINARY:
                stack[depth - 2] = operand(stack[depth - 2], stack[depth - 1])
                depth -= 1
            elif kind == I_LIST:
                self.events["list call with %s arguments" % (count if count < 4 else "4+")] += 1
                if depth - count == STACK_SIZE:
                    self.record(62)
                    return 0.0
                r = operand(self, stack, depth, count)
                stack[depth - count] = r
                depth = depth - count + 1
            else:
                return 0.0
        if deepest >= 90:
            self.events["value stack of 90 or more"] += 1
        return stack[0]

    # ---- statement runner ----

    def new_slot(self):
        self.slots.append(0.0)
        return len(self.slots) - 1

    def run_statements(self, text, rs, gs, bs, frame):
        """Runs a program for one pixel; returns (rd, gd, bd) as singles, or None on failure."""
        text = text.split(b"\0", 1)[0]
        self.variables = []
        self.slots = [float(rs), float(gs), float(bs), 0.0, 0.0, 0.0, float(frame)]
        for i, name in enumerate(BUILTIN_VARIABLES):
            self.register_variable(name, i)
        pos = 0
        while True:
            semi = text.find(b";", pos)
            if semi < 0:
                break
            statement = text[pos:semi]
            eq = statement.find(b"=")
            if eq < 0:
                return None
            name = trim_field(statement[:eq])
            expression = trim_field(statement[eq + 1:])
            if len(name) > MAX_NAME:
                self.events["name over 255"] += 1
            elif len(name) == MAX_NAME:
                self.events["name of 255"] += 1
            if len(name) <= MAX_NAME and self.is_new_variable_name(name):
                self.register_variable(name, self.new_slot())
            code = self.compile_expression(expression)
            self.events["returned %d" % code] += 1
            self.events["program of %s instructions" % (
                "100" if len(self.program) == 100 else "99" if len(self.program) == 99
                else "other")] += 1
            if self.pending or self.nesting:
                self.events["pending calls left"] += 1
            if code != 0:
                return None
            value = self.evaluate()
            if not self.set_variable(name, value):
                self.events["assignment lost"] += 1
            pos = semi + 1
        self.events["%s new variables" % (
            len(self.variables) - 7 if len(self.variables) >= 100 else "under 93")] += 1
        out = tuple(f32(self.get_variable(n)) for n in (b"rd", b"gd", b"bd"))
        for v in out:
            self.events["output " + ("nan" if math.isnan(v) else "inf" if math.isinf(v)
                                     else "finite")] += 1
        return out

    def test_message(self, text):
        r = self.run_statements(text, 0.5, 0.5, 0.5, 100)
        if r is None:
            return "Error in expression !"
        return "Expression Successfully Parsed : result (0.5,0.5,0.5,fr=100) = %s %s %s" % tuple(
            c_format("%.2f", v) for v in r)


def trim_field(field):
    """Skips leading spaces and cuts the rest at its first space."""
    i = 0
    while i < len(field) and field[i] == 0x20:
        i += 1
    rest = field[i:]
    sp = rest.find(b" ")
    return rest if sp < 0 else rest[:sp]


def pixel_output(text, r, g, b, frame, events=None):
    """What `vexlor pixel` prints and returns, in a fresh process: (stdout bytes, exit code)."""
    out = Engine(events).run_statements(text, f32(r), f32(g), f32(b), frame)
    if out is None:
        return b"", 1
    return (" ".join(c_format("%.9g", v) for v in out) + "\n").encode(), 0


def test_output(text, events=None):
    """What `vexlor test` prints and returns, in a fresh process: (stdout bytes, exit code)."""
    msg = Engine(events).test_message(text)
    return (msg + "\n").encode(), 1 if msg == "Error in expression !" else 0


def compile_result(text, events=None):
    """(code, instructions stored) of CompileExpression with the built-in variables bound."""
    eng = Engine(events)
    eng.slots = [0.0] * len(BUILTIN_VARIABLES)
    for i, name in enumerate(BUILTIN_VARIABLES):
        eng.register_variable(name, i)
    code = eng.compile_expression(text)
    return code, len(eng.program)


def constant_value(text):
    """The double an expression evaluates to on default inputs, or None when it fails."""
    eng = Engine()
    eng.run_statements(b"", 0.5, 0.5, 0.5, 0)
    if eng.compile_expression(text) != 0:
        return None
    return eng.evaluate()
