// vexlor expression engine: one process-wide engine that compiles one expression
// text at a time into a postfix Program and evaluates it on a stack of doubles.
//
// The engine is deliberately single-state: the current token, the program, the
// value stack, the pending-call stack, the variable table and the error code
// exist once per process. Only one compilation or evaluation may run at a time.
// The generator behind rand() is the exception: it is per thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vexlor {

// ---- Limits ---------------------------------------------------------------

inline constexpr int kMaxInstructions = 100;  // emitted; one more slot holds End
inline constexpr int kStackSize = 100;        // ValueStack and PendingCallStack
inline constexpr int kMaxVariables = 101;     // VariableTable entries
inline constexpr int kMaxNumberLength = 100;  // longer numbers are bad numbers
// Expressions nested deeper than this are refused with OutOfMemory instead of
// recursing further. The compiler makes one call per parenthesis, per
// argument and per right-hand side of an operator, each starting at least one
// character further into the text, so the bound lies beyond what a text of
// 2047 characters (a whole settings field) can reach: every such program
// compiles, and the bound guards the engine's API against longer texts. A
// level of bare parentheses costs 32 bytes of stack in the x86-64 release
// build, any level at most a few hundred. Calls are also held by the
// 100-entry pending-call stack.
inline constexpr int kMaxNesting = 2048;

// ---- Records --------------------------------------------------------------

enum TokenKind : int32_t {
  TK_MINUS = 3,
  TK_PLUS = 4,
  TK_MUL = 10,
  TK_DIV = 11,
  TK_MOD = 12,
  TK_POW = 13,
  TK_NUMBER = 20,     // number, or name of a constant
  TK_UNARY = 21,      // name of a one-argument function
  TK_LIST = 22,       // name of a list function
  TK_VARIABLE = 23,   // name of a variable
  TK_UNDEFINED = 24,  // undefined name
  TK_LPAREN = 30,
  TK_COMMA = 31,
  TK_RPAREN = 33,
  TK_END = 37,
  TK_BADNUMBER = 38,  // number of more than 100 characters
  TK_INVALID = 40,    // invalid character
  TK_LT = 51,
  TK_LE = 52,
  TK_GT = 53,
  TK_GE = 54,
  TK_EQ = 55,
  TK_NE = 56,
  TK_AND = 57,
  TK_OR = 58,
  TK_XOR = 59,
};

enum InstructionKind : int32_t {
  OP_END = 0,
  OP_PUSH_CONSTANT = 1,
  OP_PUSH_VARIABLE = 2,
  OP_CALL_UNARY = 3,
  OP_CALL_BINARY = 4,
  OP_CALL_LIST = 5,
};

enum EngineError : int32_t {
  ERR_NONE = 0,
  ERR_PREMATURE_END = 51,
  ERR_EXPRESSION_EXPECTED = 52,
  ERR_LPAREN_EXPECTED = 53,
  ERR_RPAREN_EXPECTED = 54,
  ERR_UNKNOWN = 55,
  ERR_ARGUMENT_COUNT = 56,
  ERR_BAD_NUMBER = 57,
  ERR_NAME_TOO_LONG = 58,  // never recorded
  ERR_VARIABLE_NOT_FOUND = 59,
  ERR_UNDEFINED_NAME = 60,
  ERR_INVALID_EXPRESSION = 61,
  ERR_OUT_OF_MEMORY = 62,
  ERR_INVALID_CHARACTER = 63,  // never recorded
};

using UnaryHandler = double (*)(double x);
using BinaryHandler = double (*)(double left, double right);
// Reads its n arguments from the top n entries of the ValueStack.
using ListHandler = double (*)(int n);

struct Token {
  int32_t kind;
  int32_t arity;  // list functions: declared argument count, -1 = any
  union {
    double number;
    UnaryHandler unary;
    ListHandler list;
    double* variable;
  } value;
};

struct Instruction {
  int32_t kind;
  int32_t count;  // CallList: number of arguments written
  union {
    double number;
    double* variable;
    UnaryHandler unary;
    BinaryHandler binary;
    ListHandler list;
  } operand;
};

struct Program {
  Instruction code[kMaxInstructions + 1];
  int count;
};

struct ValueStack {
  double values[kStackSize];
  int depth;
};

// ---- Conversions ----------------------------------------------------------

// Truncates toward zero to a 64-bit integer and keeps the low 32 bits as a
// signed value; NaN, infinities and values beyond the 64-bit range give 0.
int32_t ToInt32(double x);

// ---- Symbol tables --------------------------------------------------------

// What each row of the function and operator tables stands for, so that
// code outside the tables (the fast frame path) tells rows apart without
// comparing names or handlers.
enum class Fn : uint8_t {
  // One-argument functions.
  kAbs, kAcos, kAsin, kAtan, kCos, kCosh, kDeg, kExp, kFac, kLog, kLog10, kRad, kRound,
  kSin, kSinh, kSqr, kSqrt, kTan, kTanh, kTrunc, kFloor, kCeil, kNot,
  // The prefix minus.
  kNegate,
  // List functions.
  kMax, kMed, kMin, kRand, kSum, kIf,
  // Binary operators.
  kOr, kXor, kAnd, kEq, kNe, kLt, kLe, kGt, kGe, kAdd, kSub, kMul, kDiv, kMod, kPow,
};

struct UnaryFunctionRow {
  const char* name;
  Fn id;
  UnaryHandler handler;
};
struct ListFunctionRow {
  const char* name;
  Fn id;
  int32_t arity;
  ListHandler handler;
};
struct ConstantRow {
  const char* name;
  double value;
};
struct BinaryOperatorRow {
  int32_t token;
  const char* name;
  Fn id;
  BinaryHandler handler;
};

extern const UnaryFunctionRow kUnaryFunctions[];
extern const int kUnaryFunctionCount;
extern const ListFunctionRow kListFunctions[];
extern const int kListFunctionCount;
extern const ConstantRow kConstants[];
extern const int kConstantCount;
extern const BinaryOperatorRow kBinaryOperators[];
extern const int kBinaryOperatorCount;
// The prefix minus's row: named "neg" in listings, no name a program can call.
extern const UnaryFunctionRow kNegateRow;

// The row whose handler a compiled instruction calls, or nullptr.
const UnaryFunctionRow* UnaryRowOf(UnaryHandler handler);
const ListFunctionRow* ListRowOf(ListHandler handler);
const BinaryOperatorRow* BinaryRowOf(BinaryHandler handler);

Token ClassifyName(std::string_view name);
bool IsNewVariableName(std::string_view name);
int RegisterVariable(std::string_view name, double* storage);
int SetVariable(std::string_view name, double value);
double GetVariable(std::string_view name);
double* FindVariable(std::string_view name);
bool FindConstant(std::string_view name, double* value);
UnaryHandler FindUnaryFunction(std::string_view name);
ListHandler FindListFunction(std::string_view name);
int32_t ListFunctionArity(std::string_view name);
int ClearVariables();
// Name of the variable bound to storage, or nullptr.
const char* VariableName(const double* storage);

// ---- Lexer, compiler, evaluator -------------------------------------------

// Reads the next token of the text being compiled into the current token.
TokenKind NextToken();
// Points the lexer at a text without compiling it (for token-level tools).
// The text ends at its first NUL or at the end of the view.
void LexerStart(std::string_view text);

EngineError CompileExpression(std::string_view text);
double EvaluateProgram();

// ---- Engine state, read-only views ----------------------------------------

const Token& CurrentToken();
const Program& CurrentProgram();
const ValueStack& CurrentStack();
EngineError LastError();
// Offset into the compiled text of the token current when the last error was
// recorded (where the problem was found); -1 when none was recorded.
int LastErrorOffset();
// Message of an EngineError: the engine's own texts, "sucess" for 0.
const char* EngineMessage(int code);

// ---- Built-in helpers exposed for the fast frame path and tests -----------

// rand(): advances this thread's generator and returns its scaled output.
double RandNext();
uint32_t RandState();
void RandSetState(uint32_t state);
// The generator's state in a thread that has not called rand() yet.
inline constexpr uint32_t kRandFirstState = 1;
// Keeps this thread's generator where it stands across a scope that runs a
// program only to look at it (a check, a test message), so that the pixels
// filtered afterwards get the values they would have got anyway.
struct RandKeeper {
  uint32_t state = RandState();
  RandKeeper() = default;
  RandKeeper(const RandKeeper&) = delete;
  RandKeeper& operator=(const RandKeeper&) = delete;
  ~RandKeeper() { RandSetState(state); }
};
inline constexpr double kRandScale = 3.051850947599719e-05;
// rand()'s value once the generator stands at `state`.
inline double RandValue(uint32_t state) {
  return static_cast<double>((state >> 16) & 0x7FFF) * kRandScale;
}
// A number of generator steps as one affine map of the state (modulo 2^32):
// one step is state * 214013 + 2531011, and any number of steps composes into
// another such map, so a pixel's values can be reached without the steps of
// the pixels before it.
struct RandStep {
  uint32_t mul;
  uint32_t add;
  uint32_t Apply(uint32_t state) const { return state * mul + add; }
};
// The map of `steps` steps; the generator's period is 2^32, so only the steps
// modulo 2^32 matter and callers may let their counts wrap.
RandStep RandAdvance(uint64_t steps);
// Negation, the handler of the prefix minus.
double Negate(double x);

// ---- Disassembler ---------------------------------------------------------

// One line per instruction of the current Program, e.g. "0003 CALLB *".
std::string DisassembleProgram();
std::string DisassembleInstruction(const Instruction& in);

}  // namespace vexlor
