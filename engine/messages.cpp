// The engine's message table: the texts of its error codes.

#include "state.h"

namespace vexlor {

namespace {

// Texts for the codes 50 to 63; position 0 is the success text.
constexpr const char* kMessages[] = {
    "sucess",
    "imature expression terminated",
    "expression expected",
    "\"(\" expected",
    "\")\" expected",
    "unknown error",
    "inverid nuber of parameters",
    "bad number or size exceed limits",
    "indent lenght exceed limits",
    "variable not found",
    "undefined identifier",
    "invalid expression",
    "out memory",
    "invalid character",
};
constexpr int kMessageCount = sizeof kMessages / sizeof kMessages[0];

}  // namespace

const char* EngineMessage(int code) {
  if (code == 0) return kMessages[0];
  int i = code - 50;
  return i > 0 && i < kMessageCount ? kMessages[i] : "unknown error";
}

}  // namespace vexlor
