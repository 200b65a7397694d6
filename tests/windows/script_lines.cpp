// Carries script lines from one build of the module to the other:
//   vexlor_script_lines save   prints the line this build's module saves for
//                              each sample record, one a line;
//   vexlor_script_lines load   reads such lines on standard input and loads
//                              each into a fresh instance, as the host does;
//                              exit 1 at the first line that does not give
//                              its sample record, byte for byte.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "test_host.h"

namespace vexlor::testhost {
namespace {

// Prints the saved line of every sample record.
int Save(FilterDefinition* def) {
  for (const SampleRecord& r : SampleRecords()) {
    Instance inst(def);
    inst.Set(r.clamp, r.text);
    std::printf("%s\n", inst.ScriptLine().c_str());
  }
  return 0;
}

// Loads the lines of standard input, the k-th into the k-th sample record.
int Load(FilterDefinition* def) {
  const auto& records = SampleRecords();
  size_t k = 0;
  for (std::string line; std::getline(std::cin, line); ++k) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    Instance inst(def);
    inst.Init();
    if (k >= records.size() || !LoadScriptLine(def, inst, line) ||
        inst.Bytes() != LoadedBytes(records[k])) {
      std::fprintf(stderr, "script_lines: line %zu does not load to sample record %zu\n", k + 1,
                   k + 1);
      return 1;
    }
  }
  if (k != records.size()) {
    std::fprintf(stderr, "script_lines: %zu lines for %zu records\n", k, records.size());
    return 1;
  }
  return 0;
}

int Main(int argc, char** argv) {
  bool save = argc == 2 && std::strcmp(argv[1], "save") == 0;
  if (!save && !(argc == 2 && std::strcmp(argv[1], "load") == 0)) {
    std::fprintf(stderr, "usage: vexlor_script_lines save|load\n");
    return 2;
  }
  LoadedModule lib;
  FilterDefinition* def = lib.Load() ? lib.Register() : nullptr;
  if (!def) {
    std::fprintf(stderr, "script_lines: cannot load %s\n", ModulePath().c_str());
    return 1;
  }
  int status = save ? Save(def) : Load(def);
  lib.Deregister();
  lib.Unload();
  return status;
}

}  // namespace
}  // namespace vexlor::testhost

int main(int argc, char** argv) { return vexlor::testhost::Main(argc, argv); }
