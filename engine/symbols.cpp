// Symbol tables: variables (bound to caller-owned storage), constants, and the
// name lookups that the lexer and the statement runner use. Every table is
// searched linearly from its first row; the first match wins.
#include <cstdlib>
#include <cstring>

#include "engine/chars.h"
#include "state.h"

namespace vexlor {

// pi to 12 digits and e as 2.85: these are the language's own values.
const ConstantRow kConstants[] = {
    {"pi", 3.14159265358},
    {"e", 2.85},
};
const int kConstantCount = sizeof kConstants / sizeof kConstants[0];

namespace {

bool Equals(const char* row, std::string_view name) {
  return std::strlen(row) == name.size() && std::memcmp(row, name.data(), name.size()) == 0;
}

// Index of the variable entry named name, or -1.
int FindVariableIndex(std::string_view name) {
  for (int i = 0; i < kMaxVariables && g_engine.variables[i].name; ++i)
    if (Equals(g_engine.variables[i].name, name)) return i;
  return -1;
}

int VariableCount() {
  int n = 0;
  while (n < kMaxVariables && g_engine.variables[n].name) ++n;
  return n;
}

}  // namespace

double* FindVariable(std::string_view name) {
  int i = FindVariableIndex(name);
  return i < 0 ? nullptr : g_engine.variables[i].storage;
}

bool FindConstant(std::string_view name, double* value) {
  for (const ConstantRow& row : kConstants)
    if (Equals(row.name, name)) {
      *value = row.value;
      return true;
    }
  return false;
}

UnaryHandler FindUnaryFunction(std::string_view name) {
  for (int i = 0; i < kUnaryFunctionCount; ++i)
    if (Equals(kUnaryFunctions[i].name, name)) return kUnaryFunctions[i].handler;
  return nullptr;
}

// Row of the list function named name, or nullptr.
static const ListFunctionRow* FindListRow(std::string_view name) {
  for (int i = 0; i < kListFunctionCount; ++i)
    if (Equals(kListFunctions[i].name, name)) return &kListFunctions[i];
  return nullptr;
}

ListHandler FindListFunction(std::string_view name) {
  const ListFunctionRow* row = FindListRow(name);
  return row ? row->handler : nullptr;
}

int32_t ListFunctionArity(std::string_view name) {
  const ListFunctionRow* row = FindListRow(name);
  return row ? row->arity : -1;
}

Token ClassifyName(std::string_view name) {
  Token t{};
  if (UnaryHandler h = FindUnaryFunction(name)) {
    t.kind = TK_UNARY;
    t.value.unary = h;
  } else if (const ListFunctionRow* row = FindListRow(name)) {
    t.kind = TK_LIST;
    t.arity = row->arity;
    t.value.list = row->handler;
  } else if (double* storage = FindVariable(name)) {
    t.kind = TK_VARIABLE;
    t.value.variable = storage;
  } else if (double v; FindConstant(name, &v)) {
    t.kind = TK_NUMBER;
    t.value.number = v;
  } else {
    t.kind = TK_UNDEFINED;
  }
  return t;
}

bool IsNewVariableName(std::string_view name) {
  if (name.empty() || !IsNameStart(name[0])) return false;
  for (char c : name)
    if (!IsNameChar(c)) return false;
  return ClassifyName(name).kind == TK_UNDEFINED;
}

int RegisterVariable(std::string_view name, double* storage) {
  if (int i = FindVariableIndex(name); i >= 0) {
    g_engine.variables[i].storage = storage;
    return 1;
  }
  if (!IsNewVariableName(name)) return 0;
  int n = VariableCount();
  if (n == kMaxVariables) return 0;
  char* copy = static_cast<char*>(std::malloc(name.size() + 1));
  if (!copy) return 0;
  std::memcpy(copy, name.data(), name.size());
  copy[name.size()] = '\0';
  g_engine.variables[n] = {copy, storage};
  if (n + 1 < kMaxVariables) g_engine.variables[n + 1] = {nullptr, nullptr};
  return 1;
}

int SetVariable(std::string_view name, double value) {
  double* storage = FindVariable(name);
  if (!storage) return 0;
  *storage = value;
  return 1;
}

double GetVariable(std::string_view name) {
  double value = 0.0;
  if (double* storage = FindVariable(name)) {
    value = *storage;
  } else if (!FindConstant(name, &value)) {
    g_engine.error = ERR_VARIABLE_NOT_FOUND;
    return 0.0;
  }
  g_engine.error = ERR_NONE;
  return value;
}

int ClearVariables() {
  int n = 0;
  for (; n < kMaxVariables && g_engine.variables[n].name; ++n) {
    std::free(g_engine.variables[n].name);
    g_engine.variables[n] = {nullptr, nullptr};
  }
  return n;
}

const char* VariableName(const double* storage) {
  for (int i = 0; i < kMaxVariables && g_engine.variables[i].name; ++i)
    if (g_engine.variables[i].storage == storage) return g_engine.variables[i].name;
  return nullptr;
}

}  // namespace vexlor
