// Building a frame plan; see pixel/plan_builder.h.
#include <algorithm>
#include <array>
#include <cstring>
#include <map>

#include "pixel/plan_builder.h"

namespace vexlor {

namespace {

// More two-channel tables than this (half a megabyte each) are not built.
constexpr int kMaxPairTables = 32;

bool IsTable(uint8_t deps) { return deps == kDepRed || deps == kDepGreen || deps == kDepBlue; }
int TableChannel(uint8_t deps) { return deps == kDepRed ? 0 : deps == kDepGreen ? 1 : 2; }
bool IsPair(uint8_t deps) {
  return deps == (kDepRed | kDepGreen) || deps == (kDepRed | kDepBlue) ||
         deps == (kDepGreen | kDepBlue);
}
// The two channels of a pair, in channel order (red, green, blue).
std::pair<int, int> PairChannels(uint8_t deps) {
  return deps == (kDepRed | kDepGreen)  ? std::pair{0, 1}
         : deps == (kDepRed | kDepBlue) ? std::pair{0, 2}
                                        : std::pair{1, 2};
}

}  // namespace

FramePlan::FramePlan(const FilterSettings& settings, int32_t frame, bool pairTables) {
  PlanBuilder(*this, settings, frame, pairTables);
}

PlanBuilder::PlanBuilder(FramePlan& plan, const FilterSettings& settings, int32_t frame,
                         bool pairTables)
    : plan_(plan) {
  plan_.clamp_ = settings.clamp != 0;
  Translate(SettingsText(settings), frame);
  if (plan_.status_ == FramePlan::Status::kRuns) Prepare(pairTables);
}

// Walks the statements as every pixel's run does, with slots whose addresses
// identify the variables in the compiled programs; each slot follows the node
// of its current value.
void PlanBuilder::Translate(std::string_view text, int32_t frame) {
  double slots[kSlotCount] = {};
  int slotNodes[kSlotCount];
  constexpr Dep kChannelDeps[3] = {kDepRed, kDepGreen, kDepBlue};
  for (int c = 0; c < 3; ++c) {
    nodes_.push_back({.kind = NodeKind::kInput, .deps = kChannelDeps[c], .index = c});
    slotNodes[kSlotRs + c] = static_cast<int>(nodes_.size() - 1);
  }
  // rd, gd, bd and new variables read 0 until assigned.
  std::fill(slotNodes + kSlotRd, slotNodes + kSlotCount, AddConstant(0.0));
  slotNodes[kSlotFr] = AddConstant(static_cast<double>(frame));

  StatementWalk walk(text, slots);
  for (WalkStep step; walk.Next(step);) {
    if (step.kind != WalkStep::Kind::kCompiled) {
      plan_.status_ = FramePlan::Status::kFails;
      return;
    }
    int value = TranslateProgram(CurrentProgram(), slots, slotNodes);
    if (value < 0) {
      plan_.status_ = FramePlan::Status::kUnsupported;
      return;
    }
    if (step.target) slotNodes[step.target - slots] = value;
  }
  std::copy(slotNodes + kSlotRd, slotNodes + kSlotRd + 3, outputs_);
}

// The node of the value a program leaves, or -1 for a program that the
// evaluator would not run to its end (never the case for a compiled one).
int PlanBuilder::TranslateProgram(const Program& program, const double* slots,
                                const int* slotNodes) {
  int stack[kStackSize];
  int depth = 0;
  for (const Instruction* in = program.code; in->kind != OP_END; ++in) {
    if (in->kind == OP_PUSH_CONSTANT || in->kind == OP_PUSH_VARIABLE) {
      if (depth == kStackSize) return -1;
      ptrdiff_t slot = in->kind == OP_PUSH_VARIABLE ? in->operand.variable - slots : 0;
      if (slot < 0 || slot >= kSlotCount) return -1;
      if (in->kind == OP_PUSH_VARIABLE && slot == kSlotFr) plan_.readsFrame_ = true;
      stack[depth++] = in->kind == OP_PUSH_CONSTANT ? AddConstant(in->operand.number)
                                                    : slotNodes[slot];
      continue;
    }
    if (IsRandCall(*in)) {
      if (depth == kStackSize) return -1;
      stack[depth++] = AddNode({.kind = NodeKind::kRand, .deps = kDepRand}, nullptr);
      continue;
    }
    Kernel k;
    if (!KernelOf(*in, k) || depth < k.argc || depth - k.argc == kStackSize) return -1;
    depth -= k.argc;
    // With no arguments max, min, sum and med read nothing: their handler
    // gives the value.
    int node = k.argc == 0 ? AddConstant(in->operand.list(0))
                           : AddNode({.kind = NodeKind::kKernel, .kernel = k}, stack + depth);
    stack[depth++] = node;
  }
  return depth == 1 ? stack[0] : -1;
}

int PlanBuilder::AddConstant(double v) {
  nodes_.push_back({.kind = NodeKind::kConstant, .value = v});
  return static_cast<int>(nodes_.size() - 1);
}

// Adds a rand() node, or the node of an operation on argument nodes.
// Operations on uniform values are computed here, by the same loops on one
// element; an `if` with a uniform condition is the selected argument itself.
int PlanBuilder::AddNode(const PlanNode& added, const int* args) {
  PlanNode node = added;
  int argc = node.kind == NodeKind::kKernel ? node.kernel.argc : 0;
  for (int i = 0; i < argc; ++i) node.deps |= nodes_[args[i]].deps;
  if (node.kind == NodeKind::kKernel && node.kernel.op == BlockOp::kIf &&
      nodes_[args[0]].deps == 0)
    return args[nodes_[args[0]].value != 0 ? 1 : 2];
  if (node.deps == 0) {
    std::array<const double*, kStackSize> values;
    for (int i = 0; i < argc; ++i) values[i] = &nodes_[args[i]].value;
    double v;
    RunKernel(node.kernel, &v, values.data(), 1);
    return AddConstant(v);
  }
  node.first = static_cast<int>(operands_.size());
  if (node.kind == NodeKind::kRand) node.index = static_cast<int>(plan_.randCalls_++);
  operands_.insert(operands_.end(), args, args + argc);
  nodes_.push_back(node);
  return static_cast<int>(nodes_.size() - 1);
}

void PlanBuilder::Prepare(bool pairTables) {
  // Only the nodes that reach rd, gd or bd are computed; the others have no
  // effect (a rand() among them still counts in randCalls_).
  std::vector<Place> place(nodes_.size(), Place::kDead);
  for (int o : outputs_) place[o] = Place::kPerPixel;
  for (size_t n = nodes_.size(); n-- > 0;) {
    if (place[n] == Place::kDead) continue;
    uint8_t deps = nodes_[n].deps;
    place[n] = deps == 0 ? Place::kUniform : IsTable(deps) ? Place::kTable : Place::kPerPixel;
    for (int i = 0; i < Argc(n); ++i) place[Operand(n, i)] = Place::kPerPixel;
  }
  if (pairTables) PlacePairTables(place);
  BuildTables(place);
  BuildSteps(place);
}

// Two-channel values that call a library function per pixel, directly or
// through a two-channel operand, become tables of their 65536 inputs, with
// every two-channel value they are computed from. Cheaper values stay per
// pixel: a look-up in a large table costs about as much as computing them.
void PlanBuilder::PlacePairTables(std::vector<Place>& place) const {
  std::vector<bool> costly(nodes_.size(), false), needed(nodes_.size(), false);
  for (size_t n = 0; n < nodes_.size(); ++n) {
    if (place[n] != Place::kPerPixel || !IsPair(nodes_[n].deps)) continue;
    const PlanNode& node = nodes_[n];
    costly[n] = node.kind == NodeKind::kKernel &&
                (node.kernel.op == BlockOp::kUnary || node.kernel.op == BlockOp::kBinary);
    for (int i = 0; i < Argc(n); ++i) costly[n] = costly[n] || costly[Operand(n, i)];
  }
  int count = 0;
  for (size_t n = nodes_.size(); n-- > 0;) {
    if (!costly[n] && !needed[n]) continue;
    needed[n] = true;
    ++count;
    for (int i = 0; i < Argc(n); ++i)
      if (IsPair(nodes_[Operand(n, i)].deps)) needed[Operand(n, i)] = true;
  }
  if (count > kMaxPairTables) return;
  for (size_t n = 0; n < nodes_.size(); ++n)
    if (needed[n]) place[n] = Place::kPairTable;
}

// Computes every table over its channels' inputs, then the output terms of the
// uniform and one-channel outputs.
void PlanBuilder::BuildTables(const std::vector<Place>& place) {
  tableOf_.assign(nodes_.size(), -1);
  for (size_t n = 0; n < nodes_.size(); ++n)
    if (place[n] == Place::kTable || place[n] == Place::kPairTable) {
      tableOf_[n] = static_cast<int>(plan_.tables_.size());
      plan_.tables_.resize(plan_.tables_.size() + (place[n] == Place::kTable ? 256 : 65536));
    }
  for (size_t n = 0; n < nodes_.size(); ++n) {
    if (place[n] == Place::kTable) FillTable(n);
    if (place[n] == Place::kPairTable) FillPairTable(n);
  }
  for (int o = 0; o < 3; ++o) {
    const PlanNode& node = nodes_[outputs_[o]];
    if (place[outputs_[o]] == Place::kUniform) {
      for (int i = 0; i < 256; ++i) AddTerm(0, i, node.value, o);
    } else if (place[outputs_[o]] == Place::kTable) {
      plan_.tableOutputs_ = true;
      const double* table = &plan_.tables_[tableOf_[outputs_[o]]];
      for (int i = 0; i < 256; ++i) AddTerm(TableChannel(node.deps), i, table[i], o);
    }
  }
}

// Adds output o's term of value v to entry i of the sums indexed by channel
// `by`, and without clamp its channel code to the entry's codes.
void PlanBuilder::AddTerm(int by, int i, double v, int o) {
  plan_.combined_[by][i] += ChannelTerm(v, plan_.clamp_, kChannelShift[o]);
  if (plan_.clamp_) return;
  plan_.combinedCodes_[by][i] |= static_cast<uint32_t>(ChannelCode(v));
  plan_.tableCarries_ |= ChannelCarries(v);
}

// A one-channel node over the channel's 256 values.
void PlanBuilder::FillTable(size_t n) {
  const PlanNode& node = nodes_[n];
  double* out = &plan_.tables_[tableOf_[n]];
  if (node.kind == NodeKind::kInput) {
    for (uint32_t i = 0; i < 256; ++i) out[i] = ChannelValue(i, 0);
    return;
  }
  std::vector<double> copies(size_t(Argc(n)) * 256);
  std::array<const double*, kStackSize> args{};
  for (int i = 0; i < Argc(n); ++i) {
    int a = Operand(n, i);
    double* mine = &copies[size_t(i) * 256];
    std::fill(mine, mine + 256, nodes_[a].value);
    args[i] = tableOf_[a] < 0 ? mine : &plan_.tables_[tableOf_[a]];
  }
  RunKernel(node.kernel, out, args.data(), 256);
}

// A two-channel node over its 65536 pairs of values, entry (first << 8) |
// second, computed in 256 runs with the first channel's value fixed.
void PlanBuilder::FillPairTable(size_t n) {
  const PlanNode& node = nodes_[n];
  int first = PairChannels(node.deps).first;
  std::vector<double> copies(size_t(Argc(n)) * 256);
  std::array<const double*, kStackSize> args{};
  for (int high = 0; high < 256; ++high) {
    for (int i = 0; i < Argc(n); ++i) {
      const PlanNode& arg = nodes_[Operand(n, i)];
      const double* table = tableOf_[Operand(n, i)] < 0 ? nullptr : &plan_.tables_[tableOf_[Operand(n, i)]];
      double* mine = &copies[size_t(i) * 256];
      if (IsPair(arg.deps)) {
        args[i] = table + high * 256;
      } else if (table && TableChannel(arg.deps) != first) {
        args[i] = table;
      } else {
        std::fill(mine, mine + 256, table ? table[high] : arg.value);
        args[i] = mine;
      }
    }
    RunKernel(node.kernel, &plan_.tables_[tableOf_[n] + high * 256], args.data(), 256);
  }
}

// Orders the per-pixel nodes into block steps over registers of one block's
// values. Table operands are gathered into a register before their first use;
// a register is reused once the value it holds has had its last use, and a
// step never writes a register it reads.
void PlanBuilder::BuildSteps(const std::vector<Place>& place) {
  Registers regs{.place = place, .lastUse = LastUses(place), .regOf = {}, .free = {},
                 .constants = {}};
  regs.regOf.assign(nodes_.size(), -1);
  for (size_t n = 0; n < nodes_.size(); ++n)
    if (place[n] == Place::kPerPixel) AddStep(regs, n);
  for (int o = 0; o < 3; ++o)
    if (place[outputs_[o]] == Place::kPerPixel || place[outputs_[o]] == Place::kPairTable)
      plan_.outputRegs_[o] = OperandReg(regs, outputs_[o]);
}

std::vector<int> PlanBuilder::LastUses(const std::vector<Place>& place) const {
  constexpr int kForever = 1 << 30;
  std::vector<int> lastUse(nodes_.size(), -1);
  for (size_t n = 0; n < nodes_.size(); ++n)
    if (place[n] == Place::kPerPixel)
      for (int i = 0; i < Argc(n); ++i) lastUse[Operand(n, i)] = int(n);
  for (int o : outputs_) lastUse[o] = kForever;
  return lastUse;
}

int PlanBuilder::Allocate(Registers& regs) {
  if (regs.free.empty()) return plan_.registers_++;
  int r = regs.free.back();
  regs.free.pop_back();
  return r;
}

int PlanBuilder::OperandReg(Registers& regs, int a) {
  const PlanNode& arg = nodes_[a];
  if (regs.place[a] == Place::kUniform) {
    uint64_t bits;
    std::memcpy(&bits, &arg.value, sizeof bits);
    auto [it, added] = regs.constants.try_emplace(bits, 0);
    if (added) {
      it->second = plan_.registers_++;
      plan_.constantRegs_.emplace_back(it->second, arg.value);
    }
    return it->second;
  }
  if (regs.regOf[a] >= 0) return regs.regOf[a];
  regs.regOf[a] = Allocate(regs);
  if (regs.place[a] == Place::kPairTable) {
    plan_.steps_.push_back({.kind = StepKind::kGatherPair,
                            .out = regs.regOf[a],
                            .table = tableOf_[a],
                            .shift = kChannelShift[PairChannels(arg.deps).first],
                            .shift2 = kChannelShift[PairChannels(arg.deps).second]});
  } else {
    plan_.steps_.push_back({.kind = arg.kind == NodeKind::kInput ? StepKind::kInput
                                                                 : StepKind::kGather,
                            .out = regs.regOf[a],
                            .table = tableOf_[a],
                            .shift = kChannelShift[TableChannel(arg.deps)]});
  }
  return regs.regOf[a];
}

void PlanBuilder::AddStep(Registers& regs, size_t n) {
  const PlanNode& node = nodes_[n];
  if (node.kind == NodeKind::kRand) ++plan_.randSteps_;
  if (node.kind == NodeKind::kKernel &&
      (node.kernel.op == BlockOp::kUnary || node.kernel.op == BlockOp::kBinary))
    ++plan_.libraryCalls_;
  FramePlan::Step step{.kind = node.kind == NodeKind::kRand ? StepKind::kRand : StepKind::kKernel,
                       .kernel = node.kernel,
                       .first = static_cast<int>(plan_.stepArgs_.size()),
                       .rand = node.index};
  for (int i = 0; i < Argc(n); ++i) plan_.stepArgs_.push_back(OperandReg(regs, Operand(n, i)));
  step.out = regs.regOf[n] = Allocate(regs);
  plan_.steps_.push_back(step);
  for (int i = 0; i < Argc(n); ++i) {
    int a = Operand(n, i);
    if (regs.lastUse[a] == int(n) && regs.regOf[a] >= 0) {
      regs.free.push_back(regs.regOf[a]);
      regs.regOf[a] = -1;  // an operand named twice is freed once
    }
  }
}

}  // namespace vexlor
