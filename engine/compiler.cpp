// Expression compiler: precedence climbing over a table of eight levels,
// emitting one postfix instruction per operand, operator and call. Errors are
// recorded, never thrown; the token that caused one is not consumed, and the
// callers carry on with whatever token is current.
//
// The grammar, loosest level first ({} repeats, [] is optional; "refuses"
// lists the tokens that may not follow the level's operator):
//
//   expr     -> level1
//   level1   -> level2 { ('|' | '~') level2 }             refuses '|' '~'
//   level2   -> level3 { '&' level3 }                     refuses '&'
//   level3   -> level4 { ('==' | '!=') level4 }           refuses '==' '!='
//   level4   -> level5 { ('<' | '<=' | '>' | '>=') level5 } refuses the same four
//   level5   -> level6 { ('+' | '-') level6 }             refuses '+' '-'
//   level6   -> level7 { ('*' | '/' | '%') level7 }       refuses '+' '-' '%'
//   level7   -> sign [ '^' sign ]                         refuses '+' '-'
//   sign     -> [ '+' | '-' ] primary                     (level 8; refuses a second sign)
//   primary  -> number | constant | variable | '(' expr ')'
//             | function '(' expr ')'
//             | listfunction '(' [ expr { ',' expr } ] ')'
//
// '^' is taken at most once, so "2^3^2" leaves "^2" over, and the sign binds
// tighter than '^': "-2^2" is (-2)^2. After a refused token the level stops
// and the looser levels go on from that token, as their own operators allow.
//
// Each level is one row of kLevels. Compile(minLevel) compiles one
// operand and then runs the loops of levels 7 down to minLevel over the
// current token; a right-hand side is compiled by a call for the next tighter
// level, and a parenthesis by a call for level 1, so the stack grows by one
// call per parenthesis and per operator, not per level.
#include "state.h"

namespace vexlor {

namespace {

// One precedence level: the operators it loops over and the tokens it refuses
// directly after one of them. Levels 1 to 7 are binary; level 7 takes at most
// one '^'.
struct Level {
  TokenKind ops[4];
  TokenKind refused[4];
  bool once;
};

constexpr TokenKind kNo = TokenKind(0);

constexpr Level kLevels[] = {
    /* 1 */ {{TK_OR, TK_XOR}, {TK_OR, TK_XOR}, false},
    /* 2 */ {{TK_AND}, {TK_AND}, false},
    /* 3 */ {{TK_EQ, TK_NE}, {TK_EQ, TK_NE}, false},
    /* 4 */ {{TK_LT, TK_LE, TK_GT, TK_GE}, {TK_LT, TK_LE, TK_GT, TK_GE}, false},
    /* 5 */ {{TK_PLUS, TK_MINUS}, {TK_PLUS, TK_MINUS}, false},
    /* 6 */ {{TK_MUL, TK_DIV, TK_MOD}, {TK_PLUS, TK_MINUS, TK_MOD}, false},
    /* 7 */ {{TK_POW}, {TK_PLUS, TK_MINUS}, true},
};
constexpr int kTightestBinary = 7;

bool In(const TokenKind (&set)[4], int32_t kind) {
  for (TokenKind k : set)
    if (k != kNo && k == kind) return true;
  return false;
}

BinaryHandler OperatorHandler(int32_t kind) {
  for (int i = 0; i < kBinaryOperatorCount; ++i)
    if (kBinaryOperators[i].token == kind) return kBinaryOperators[i].handler;
  return nullptr;
}

int32_t Current() { return g_engine.token.kind; }

// The helpers below stay out of line: the compiler's recursive functions
// then hold no instruction records or call arguments in their frames.

// Ends the compilation at the nesting bound: records OutOfMemory at the
// current token and ends the text there, so that the levels unwind at once.
[[gnu::noinline]] void StopTooDeep() {
  Fail(ERR_OUT_OF_MEMORY);
  g_engine.tooDeep = true;
  g_engine.cursor = g_engine.textEnd;
  g_engine.token = Token{.kind = TK_END, .arity = 0, .value = {}};
}

[[gnu::noinline]] void Emit(const Instruction& in) {
  Program& p = g_engine.program;
  if (p.count >= kMaxInstructions) {
    Fail(ERR_OUT_OF_MEMORY);
    return;
  }
  p.code[p.count++] = in;
}

[[gnu::noinline]] void EmitNumber(double v) {
  Instruction in{.kind = OP_PUSH_CONSTANT, .count = 0, .operand = {}};
  in.operand.number = v;
  Emit(in);
}

[[gnu::noinline]] void EmitVariable(double* storage) {
  Instruction in{.kind = OP_PUSH_VARIABLE, .count = 0, .operand = {}};
  in.operand.variable = storage;
  Emit(in);
}

[[gnu::noinline]] void EmitUnary(UnaryHandler h) {
  Instruction in{.kind = OP_CALL_UNARY, .count = 0, .operand = {}};
  in.operand.unary = h;
  Emit(in);
}

[[gnu::noinline]] void EmitBinary(BinaryHandler h) {
  Instruction in{.kind = OP_CALL_BINARY, .count = 0, .operand = {}};
  in.operand.binary = h;
  Emit(in);
}

[[gnu::noinline]] void EmitList(int count, ListHandler h) {
  Instruction in{.kind = OP_CALL_LIST, .count = count, .operand = {}};
  in.operand.list = h;
  Emit(in);
}

// Keeps a function token while its arguments are compiled. A refused push
// (a full stack) records OutOfMemory; the matching pop then yields an
// undefined-name token, so that nothing outside the stack is read.
void PushPending() {
  if (g_engine.pendingDepth >= kStackSize) {
    Fail(ERR_OUT_OF_MEMORY);
    return;
  }
  g_engine.pending[g_engine.pendingDepth++] = g_engine.token;
}

void PopPending() {
  if (g_engine.pendingDepth == 0) {
    g_engine.token = Token{.kind = TK_UNDEFINED, .arity = 0, .value = {}};
    return;
  }
  g_engine.token = g_engine.pending[--g_engine.pendingDepth];
}

void Compile(int minLevel);

// Argument list of a list function, after its '('; the function's token is on
// the pending stack.
void CompileArguments() {
  int count = 0;
  if (NextToken() != TK_RPAREN) {
    Compile(1);
    count = 1;
    for (;;) {
      if (g_engine.error != ERR_NONE) {
        if (Current() == TK_RPAREN) break;
        Fail(ERR_RPAREN_EXPECTED);
        return;
      }
      if (Current() == TK_RPAREN) break;
      if (Current() == TK_COMMA) {
        NextToken();
        ++count;
        Compile(1);
        continue;
      }
      Fail(Current() == TK_END ? ERR_RPAREN_EXPECTED : ERR_UNKNOWN);
      return;
    }
  }
  PopPending();
  const Token& fn = g_engine.token;
  if (fn.kind == TK_LIST && (fn.arity == -1 || fn.arity == count)) {
    EmitList(count, fn.value.list);
    NextToken();
  } else {
    Fail(ERR_ARGUMENT_COUNT);
  }
}

// A one-argument function call, from its name on.
void CompileUnaryCall() {
  PushPending();
  if (NextToken() != TK_LPAREN) return Fail(ERR_LPAREN_EXPECTED);
  if (NextToken() == TK_RPAREN) return Fail(ERR_EXPRESSION_EXPECTED);
  Compile(1);
  if (Current() != TK_RPAREN) return Fail(ERR_RPAREN_EXPECTED);
  PopPending();
  if (g_engine.token.kind == TK_UNARY) EmitUnary(g_engine.token.value.unary);
  NextToken();
}

// A primary other than a parenthesis. Calls compile their arguments through
// calls of their own, which keeps Compile's frame small.
[[gnu::noinline]] void CompileOtherPrimary() {
  const Token& t = g_engine.token;
  switch (t.kind) {
    case TK_NUMBER:
      EmitNumber(t.value.number);
      NextToken();
      return;
    case TK_VARIABLE:
      EmitVariable(t.value.variable);
      NextToken();
      return;
    case TK_UNARY:
      return CompileUnaryCall();
    case TK_LIST:
      PushPending();
      if (NextToken() != TK_LPAREN) return Fail(ERR_LPAREN_EXPECTED);
      return CompileArguments();
    case TK_END:
      return Fail(ERR_PREMATURE_END);
    case TK_UNDEFINED:
      return Fail(ERR_UNDEFINED_NAME);
    case TK_BADNUMBER:
      return Fail(ERR_BAD_NUMBER);
    default:
      return Fail(ERR_UNKNOWN);
  }
}

// An optional prefix sign (level 8) and its primary. A second sign refuses
// the operand: nothing is compiled for it, not even the negation.
inline void CompileOperand() {
  int32_t sign = Current();
  if (sign == TK_PLUS || sign == TK_MINUS) {
    int32_t next = NextToken();
    if (next == TK_PLUS || next == TK_MINUS) return Fail(ERR_INVALID_EXPRESSION);
  }
  if (Current() == TK_LPAREN) {
    if (NextToken() == TK_RPAREN) {
      Fail(ERR_EXPRESSION_EXPECTED);
    } else {
      Compile(1);
      if (Current() != TK_RPAREN) Fail(ERR_RPAREN_EXPECTED);
      else NextToken();
    }
  } else {
    CompileOtherPrimary();
  }
  if (sign == TK_MINUS) EmitUnary(Negate);
}

// The loops of the binary levels from the tightest to minLevel over the
// current token: each operator, its right-hand side at the next tighter
// level, then the operator's instruction. Kept out of Compile, so that a
// parenthesis, which recurses without an operator, costs only Compile's frame.
[[gnu::noinline]] void CompileOperators(int minLevel) {
  for (int level = kTightestBinary; level >= minLevel; --level) {
    const Level& l = kLevels[level - 1];
    while (In(l.ops, Current())) {
      BinaryHandler h = OperatorHandler(Current());
      if (In(l.refused, NextToken())) {
        Fail(ERR_INVALID_EXPRESSION);
        break;
      }
      Compile(level + 1);
      EmitBinary(h);
      if (l.once) break;
    }
  }
}

// An expression whose operators are those of minLevel and tighter: its first
// operand, then the levels' loops. Every call is one nesting level deeper
// than its caller (a parenthesis, an argument or a right-hand side), and the
// depth is bounded; each level starts at least one character further into
// the text, so no text shorter than the bound reaches it.
void Compile(int minLevel) {
  if (g_engine.nesting >= kMaxNesting) return StopTooDeep();
  ++g_engine.nesting;
  CompileOperand();
  if (minLevel <= kTightestBinary) CompileOperators(minLevel);
  --g_engine.nesting;
}

}  // namespace

EngineError CompileExpression(std::string_view text) {
  LexerStart(text);
  g_engine.pendingDepth = 0;
  g_engine.nesting = 0;
  g_engine.tooDeep = false;
  g_engine.program.count = 0;
  g_engine.error = ERR_NONE;
  g_engine.errorOffset = -1;
  NextToken();
  Compile(1);
  g_engine.program.code[g_engine.program.count] =
      Instruction{.kind = OP_END, .count = 0, .operand = {}};
  if (Current() != TK_END) Fail(ERR_INVALID_EXPRESSION);
  return g_engine.error;
}

}  // namespace vexlor
