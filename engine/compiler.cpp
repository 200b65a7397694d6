// Expression compiler: recursive descent over eight precedence levels and a
// primary rule, emitting one postfix instruction per operand, operator and
// call. Errors are recorded, never thrown; the token that caused one is not
// consumed, and the callers carry on with whatever token is current.
#include "state.h"

namespace vexlor {

EngineState g_engine;

namespace {

// One precedence level: the operators it loops over and the tokens it refuses
// directly after one of them. Levels 1 to 7 are binary; level 7 takes at most
// one '^', so "2^3^2" leaves text over.
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
constexpr int kSignLevel = 8;

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

// Ends the compilation at the nesting bound: records OutOfMemory at the
// current token and ends the text there, so that the levels unwind at once.
void StopTooDeep() {
  Fail(ERR_OUT_OF_MEMORY);
  g_engine.tooDeep = true;
  g_engine.cursor = g_engine.textEnd;
  g_engine.token = Token{TK_END, 0, {}};
}

void Emit(const Instruction& in) {
  Program& p = g_engine.program;
  if (p.count >= kMaxInstructions) {
    Fail(ERR_OUT_OF_MEMORY);
    return;
  }
  p.code[p.count++] = in;
}

void EmitNumber(double v) {
  Instruction in{OP_PUSH_CONSTANT, 0, {}};
  in.operand.number = v;
  Emit(in);
}

void EmitVariable(double* storage) {
  Instruction in{OP_PUSH_VARIABLE, 0, {}};
  in.operand.variable = storage;
  Emit(in);
}

void EmitUnary(UnaryHandler h) {
  Instruction in{OP_CALL_UNARY, 0, {}};
  in.operand.unary = h;
  Emit(in);
}

void EmitBinary(BinaryHandler h) {
  Instruction in{OP_CALL_BINARY, 0, {}};
  in.operand.binary = h;
  Emit(in);
}

void EmitList(int count, ListHandler h) {
  Instruction in{OP_CALL_LIST, count, {}};
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
    g_engine.token = Token{TK_UNDEFINED, 0, {}};
    return;
  }
  g_engine.token = g_engine.pending[--g_engine.pendingDepth];
}

void CompileLevel(int level);

// Argument list of a list function, after its '('; the function's token is on
// the pending stack.
void CompileArguments() {
  int count = 0;
  if (NextToken() != TK_RPAREN) {
    CompileLevel(1);
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
        CompileLevel(1);
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
  CompileLevel(1);
  if (Current() != TK_RPAREN) return Fail(ERR_RPAREN_EXPECTED);
  PopPending();
  if (g_engine.token.kind == TK_UNARY) EmitUnary(g_engine.token.value.unary);
  NextToken();
}

void CompilePrimary() {
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
    case TK_LPAREN:
      if (NextToken() == TK_RPAREN) return Fail(ERR_EXPRESSION_EXPECTED);
      CompileLevel(1);
      if (Current() != TK_RPAREN) return Fail(ERR_RPAREN_EXPECTED);
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

// Level 8: an optional prefix sign, binding tighter than '^'.
void CompileSign() {
  int32_t sign = Current();
  if (sign == TK_PLUS || sign == TK_MINUS) {
    int32_t next = NextToken();
    if (next == TK_PLUS || next == TK_MINUS) return Fail(ERR_INVALID_EXPRESSION);
  }
  CompilePrimary();
  if (sign == TK_MINUS) EmitUnary(Negate);
}

// Levels 1 to 7 by the table; the primary is reached through level 8. Each
// level that recurses into a primary through parentheses or a call adds one
// to the nesting depth, which is bounded.
void CompileLevel(int level) {
  if (level == kSignLevel) return CompileSign();
  if (level == 1) {
    if (g_engine.nesting >= kMaxNesting) return StopTooDeep();
    ++g_engine.nesting;
  }
  const Level& l = kLevels[level - 1];
  CompileLevel(level + 1);
  while (In(l.ops, Current())) {
    BinaryHandler h = OperatorHandler(Current());
    if (In(l.refused, NextToken())) {
      Fail(ERR_INVALID_EXPRESSION);
      break;
    }
    CompileLevel(level + 1);
    EmitBinary(h);
    if (l.once) break;
  }
  if (level == 1) --g_engine.nesting;
}

}  // namespace

void Fail(EngineError code) {
  if (g_engine.tooDeep) return;
  g_engine.error = code;
  g_engine.errorOffset =
      g_engine.tokenBegin ? static_cast<int>(g_engine.tokenBegin - g_engine.textBegin) : -1;
}

EngineError CompileExpression(std::string_view text) {
  LexerStart(text);
  g_engine.pendingDepth = 0;
  g_engine.nesting = 0;
  g_engine.tooDeep = false;
  g_engine.program.count = 0;
  g_engine.error = ERR_NONE;
  g_engine.errorOffset = -1;
  NextToken();
  CompileLevel(1);
  g_engine.program.code[g_engine.program.count] = Instruction{OP_END, 0, {}};
  if (Current() != TK_END) Fail(ERR_INVALID_EXPRESSION);
  return g_engine.error;
}

const Token& CurrentToken() { return g_engine.token; }
const Program& CurrentProgram() { return g_engine.program; }
const ValueStack& CurrentStack() { return g_engine.stack; }
EngineError LastError() { return g_engine.error; }
int LastErrorOffset() { return g_engine.errorOffset; }

}  // namespace vexlor
