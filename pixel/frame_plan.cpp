// Building a frame plan: the statement runner's steps replayed once with the
// engine, each statement's postfix program translated into value nodes, and
// the nodes sorted into uniform values, per-channel tables and per-pixel
// block steps.
#include <algorithm>
#include <array>
#include <cstring>
#include <map>

#include "pixel/frame_plan.h"

namespace vexlor {

namespace {

constexpr uint8_t kDepRand = 8;  // bits 0..2: the red, green and blue inputs
constexpr int kBuiltinCount = 7;
constexpr int kSlotCount = kBuiltinCount + kMaxNewVariables;

const char* const kBuiltins[kBuiltinCount] = {"rs", "gs", "bs", "rd", "gd", "bd", "fr"};
enum BuiltinSlot { kSlotRd = 3, kSlotFr = 6 };

bool IsTable(uint8_t deps) { return deps == 1 || deps == 2 || deps == 4; }
int TableChannel(uint8_t deps) { return deps == 1 ? 0 : deps == 2 ? 1 : 2; }

}  // namespace

FramePlan::FramePlan(const FilterSettings& settings, int32_t frame) : clamp_(settings.clamp != 0) {
  const char* end = std::find(settings.text, settings.text + kTextSize, '\0');
  Translate(std::string_view(settings.text, static_cast<size_t>(end - settings.text)), frame);
  if (status_ == Status::kRuns) Prepare();
}

// Replays RunStatements with slots whose addresses identify the variables in
// the compiled programs; each slot follows the node of its current value.
void FramePlan::Translate(std::string_view text, int32_t frame) {
  double slots[kSlotCount] = {};
  int slotNodes[kSlotCount];
  for (int c = 0; c < 3; ++c) {
    nodes_.push_back(PlanNode{{BlockOp::kInput, 0, 0.0, nullptr, nullptr},
                              static_cast<uint8_t>(1 << c), 0, 0.0, c});
    slotNodes[c] = c;
  }
  // rd, gd, bd and new variables read 0 until assigned.
  std::fill(slotNodes + 3, slotNodes + kSlotCount, AddConstant(0.0));
  slotNodes[kSlotFr] = AddConstant(static_cast<double>(frame));

  ClearVariables();
  for (int i = 0; i < kBuiltinCount; ++i) RegisterVariable(kBuiltins[i], &slots[i]);
  int used = kBuiltinCount;
  Statement st;
  for (size_t pos = 0; NextStatement(text, pos, st);) {
    if (!st.hasEquals) {
      status_ = Status::kFails;
      return;
    }
    if (IsRegistrable(st.name) && used < kSlotCount && RegisterVariable(st.name, &slots[used]))
      ++used;
    if (CompileExpression(st.expression) != ERR_NONE) {
      status_ = Status::kFails;
      return;
    }
    int value = TranslateProgram(CurrentProgram(), slots, slotNodes);
    if (value < 0) {
      status_ = Status::kUnsupported;
      return;
    }
    if (const double* target = FindVariable(st.name)) slotNodes[target - slots] = value;
  }
  std::copy(slotNodes + kSlotRd, slotNodes + kSlotRd + 3, outputs_);
}

// The node of the value a program leaves, or -1 for a program that the
// evaluator would not run to its end (never the case for a compiled one).
int FramePlan::TranslateProgram(const Program& program, const double* slots,
                                const int* slotNodes) {
  int stack[kStackSize];
  int depth = 0;
  for (const Instruction* in = program.code; in->kind != OP_END; ++in) {
    if (in->kind == OP_PUSH_CONSTANT || in->kind == OP_PUSH_VARIABLE) {
      if (depth == kStackSize) return -1;
      ptrdiff_t slot = in->kind == OP_PUSH_VARIABLE ? in->operand.variable - slots : 0;
      if (slot < 0 || slot >= kSlotCount) return -1;
      stack[depth++] = in->kind == OP_PUSH_CONSTANT ? AddConstant(in->operand.number)
                                                    : slotNodes[slot];
      continue;
    }
    Kernel k;
    if (!KernelOf(*in, k) || depth < k.argc || depth - k.argc == kStackSize) return -1;
    depth -= k.argc;
    // With no arguments max, min, sum and med read nothing: their handler
    // gives the value.
    int node = k.argc == 0 && k.op != BlockOp::kRand ? AddConstant(in->operand.list(0))
                                                     : AddNode(k, stack + depth);
    stack[depth++] = node;
  }
  return depth == 1 ? stack[0] : -1;
}

int FramePlan::AddConstant(double v) {
  nodes_.push_back(PlanNode{{BlockOp::kConstant, 0, 0.0, nullptr, nullptr}, 0, 0, v, 0});
  return static_cast<int>(nodes_.size() - 1);
}

// Adds the node of an operation on argument nodes. Operations on uniform
// values are computed here, by the same loops on one element; an `if` with a
// uniform condition is the selected argument itself.
int FramePlan::AddNode(const Kernel& k, const int* args) {
  uint8_t deps = k.op == BlockOp::kRand ? kDepRand : 0;
  for (int i = 0; i < k.argc; ++i) deps |= nodes_[args[i]].deps;
  if (k.op == BlockOp::kIf && nodes_[args[0]].deps == 0)
    return args[nodes_[args[0]].value != 0 ? 1 : 2];
  if (deps == 0) {
    std::array<const double*, kStackSize> values;
    for (int i = 0; i < k.argc; ++i) values[i] = &nodes_[args[i]].value;
    double v;
    RunKernel(k, &v, values.data(), 1);
    return AddConstant(v);
  }
  PlanNode node{k, deps, static_cast<int>(operands_.size()), 0.0, 0};
  if (k.op == BlockOp::kRand) node.index = static_cast<int>(randCalls_++);
  operands_.insert(operands_.end(), args, args + k.argc);
  nodes_.push_back(node);
  return static_cast<int>(nodes_.size() - 1);
}

void FramePlan::Prepare() {
  // Only the nodes that reach rd, gd or bd are computed; the others have no
  // effect (a rand() among them still counts in randCalls_).
  std::vector<bool> live(nodes_.size(), false);
  for (int o : outputs_) live[o] = true;
  for (size_t n = nodes_.size(); n-- > 0;)
    if (live[n])
      for (int i = 0; i < nodes_[n].kernel.argc; ++i) live[operands_[nodes_[n].first + i]] = true;
  BuildTables(live);
  BuildSteps(live);
}

// Computes every live table node over its channel's 256 inputs, then the
// output terms of the uniform and table outputs.
void FramePlan::BuildTables(const std::vector<bool>& live) {
  tableOf_.assign(nodes_.size(), -1);
  for (size_t n = 0; n < nodes_.size(); ++n)
    if (live[n] && IsTable(nodes_[n].deps)) {
      tableOf_[n] = static_cast<int>(tables_.size());
      tables_.resize(tables_.size() + 256);
    }
  std::vector<double> broadcast;  // 256 copies of each uniform operand
  std::array<const double*, kStackSize> args;
  for (size_t n = 0; n < nodes_.size(); ++n) {
    if (tableOf_[n] < 0) continue;
    const PlanNode& node = nodes_[n];
    double* out = &tables_[tableOf_[n]];
    if (node.kernel.op == BlockOp::kInput) {
      for (uint32_t i = 0; i < 256; ++i) {
        float rgb[3];
        UnpackPixel(i * 0x010101u, rgb[0], rgb[1], rgb[2]);
        out[i] = rgb[node.index];
      }
      continue;
    }
    broadcast.assign(size_t(node.kernel.argc) * 256, 0.0);
    for (int i = 0; i < node.kernel.argc; ++i) {
      const PlanNode& arg = nodes_[operands_[node.first + i]];
      double* copies = &broadcast[size_t(i) * 256];
      std::fill(copies, copies + 256, arg.value);
      args[i] = arg.deps == 0 ? copies : &tables_[tableOf_[operands_[node.first + i]]];
    }
    RunKernel(node.kernel, out, args.data(), 256);
  }
  for (int o = 0; o < 3; ++o) {
    const PlanNode& node = nodes_[outputs_[o]];
    if (node.deps == 0) {
      for (uint32_t& term : combined_[0]) term += ChannelTerm(node.value, clamp_, kChannelShift[o]);
    } else if (IsTable(node.deps)) {
      tableOutputs_ = true;
      const double* table = &tables_[tableOf_[outputs_[o]]];
      uint32_t* terms = combined_[TableChannel(node.deps)];
      for (int i = 0; i < 256; ++i) terms[i] += ChannelTerm(table[i], clamp_, kChannelShift[o]);
    }
  }
}

// Orders the per-pixel nodes into block steps over registers of one block's
// values. Table operands are gathered into a register before their first use;
// a register is reused once the value it holds has had its last use, and a
// step never writes a register it reads.
void FramePlan::BuildSteps(const std::vector<bool>& live) {
  auto perPixel = [&](size_t n) { return live[n] && nodes_[n].deps != 0 && !IsTable(nodes_[n].deps); };
  constexpr int kForever = 1 << 30;
  std::vector<int> lastUse(nodes_.size(), -1);
  for (size_t n = 0; n < nodes_.size(); ++n)
    if (perPixel(n))
      for (int i = 0; i < nodes_[n].kernel.argc; ++i) lastUse[operands_[nodes_[n].first + i]] = int(n);
  for (int o : outputs_) lastUse[o] = kForever;

  std::vector<int> regOf(nodes_.size(), -1), freeRegs;
  std::map<uint64_t, int> constantReg;  // by the value's bits
  auto allocate = [&] {
    if (freeRegs.empty()) return registers_++;
    int r = freeRegs.back();
    freeRegs.pop_back();
    return r;
  };
  auto operandReg = [&](int a) {
    const PlanNode& arg = nodes_[a];
    if (arg.deps == 0) {
      uint64_t bits;
      std::memcpy(&bits, &arg.value, sizeof bits);
      auto [it, added] = constantReg.try_emplace(bits, 0);
      if (added) {
        it->second = registers_++;
        constantRegs_.emplace_back(it->second, arg.value);
      }
      return it->second;
    }
    if (regOf[a] < 0) {
      regOf[a] = allocate();
      BlockOp op = arg.kernel.op == BlockOp::kInput ? BlockOp::kInput : BlockOp::kGather;
      Step gather{{op, 0, 0.0, nullptr, nullptr}, regOf[a], 0, tableOf_[a],
                  kChannelShift[TableChannel(arg.deps)], 0};
      steps_.push_back(gather);
    }
    return regOf[a];
  };

  for (size_t n = 0; n < nodes_.size(); ++n) {
    if (!perPixel(n)) continue;
    const PlanNode& node = nodes_[n];
    Step step{node.kernel, 0, static_cast<int>(stepArgs_.size()), 0, 0, node.index};
    for (int i = 0; i < node.kernel.argc; ++i) stepArgs_.push_back(operandReg(operands_[node.first + i]));
    step.out = regOf[n] = allocate();
    steps_.push_back(step);
    for (int i = 0; i < node.kernel.argc; ++i) {
      int a = operands_[node.first + i];
      if (lastUse[a] == int(n) && regOf[a] >= 0) {
        freeRegs.push_back(regOf[a]);
        regOf[a] = -1;  // an operand named twice is freed once
      }
    }
  }
  for (int o = 0; o < 3; ++o)
    if (perPixel(size_t(outputs_[o]))) outputRegs_[o] = regOf[outputs_[o]];
}

}  // namespace vexlor
