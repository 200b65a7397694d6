// Making a frame plan: the program's statements walked once with the engine,
// each statement's postfix program translated into value nodes, and the nodes
// sorted into uniform values, per-channel tables and per-pixel block steps.
// A builder lives only while it makes one FramePlan.
#pragma once

#include <cstdint>
#include <map>
#include <string_view>
#include <utility>
#include <vector>

#include "pixel/frame_plan.h"

namespace vexlor {

// Which inputs a value varies with: bits of the source channels and rand().
enum Dep : uint8_t {
  kDepRed = 1 << 0,
  kDepGreen = 1 << 1,
  kDepBlue = 1 << 2,
  kDepRand = 1 << 3,
};

// What a node of the translated program is.
enum class NodeKind : uint8_t {
  kConstant,  // one value at every pixel
  kInput,     // a source channel
  kRand,      // a rand() call
  kKernel,    // an array operation of other nodes
};

// One value of the translated program.
struct PlanNode {
  NodeKind kind;
  uint8_t deps = 0;    // Dep bits
  Kernel kernel{};     // kKernel: the operation and its parameters
  int first = 0;       // kKernel: operands PlanBuilder::operands_[first .. first + kernel.argc)
  double value = 0.0;  // kConstant: the value
  int index = 0;       // kInput: channel 0..2; kRand: the call's rank within a pixel
};

class PlanBuilder {
 public:
  // Makes `plan` for the program of `settings` at frame number `frame`.
  PlanBuilder(FramePlan& plan, const FilterSettings& settings, int32_t frame, bool pairTables);

 private:
  // Where a node's values are computed.
  enum class Place : uint8_t { kDead, kUniform, kTable, kPairTable, kPerPixel };

  void Translate(std::string_view text, int32_t frame);
  int TranslateProgram(const Program& program, const double* slots, const int* slotNodes);
  int AddNode(const PlanNode& node, const int* args);
  int AddConstant(double v);
  int Operand(size_t n, int i) const { return operands_[size_t(nodes_[n].first + i)]; }
  int Argc(size_t n) const {
    return nodes_[n].kind == NodeKind::kKernel ? nodes_[n].kernel.argc : 0;
  }
  void Prepare(bool pairTables);
  void PlacePairTables(std::vector<Place>& place) const;
  void BuildTables(const std::vector<Place>& place);
  void AddTerm(int by, int i, double v, int o);
  void FillTable(size_t n);
  void FillPairTable(size_t n);
  // The registers of the per-pixel steps as they are laid out: each value's
  // register while it is live (freed after its last use), the free ones, and
  // one register for each distinct constant.
  struct Registers {
    const std::vector<Place>& place;
    std::vector<int> lastUse;  // node -> the last step that reads it
    std::vector<int> regOf;    // node -> its register while live, else -1
    std::vector<int> free;
    std::map<uint64_t, int> constants;  // by the value's bits
  };
  void BuildSteps(const std::vector<Place>& place);
  std::vector<int> LastUses(const std::vector<Place>& place) const;
  int Allocate(Registers& regs);
  // The register of node a as an operand, adding the step that fills it
  // (an input or a table gather) when it is first needed.
  int OperandReg(Registers& regs, int a);
  // Adds the step of per-pixel node n and frees the registers of the
  // operands it reads last.
  void AddStep(Registers& regs, size_t n);

  FramePlan& plan_;
  std::vector<PlanNode> nodes_;
  std::vector<int> operands_;
  int outputs_[3] = {};       // nodes of rd, gd, bd
  std::vector<int> tableOf_;  // node -> offset of its table in plan_.tables_, or -1
};

}  // namespace vexlor
