// Loading a room's module: the entry point in the process, or the module
// beside the tool, opened with dlopen once.
#include "cli/base/modules.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>

#include "cli/base/failure.h"

namespace vexlor::cli {

namespace {

using Entry = void* (*)(const char* version);

// The directory of the running tool (symbolic links resolved); empty when
// the system does not say.
std::filesystem::path ToolDirectory() {
  char path[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  return std::filesystem::path(std::string(path, size_t(n))).parent_path();
}

// Opens the module of a room and returns its entry point; fails in one line
// when no module is found or the one found cannot be loaded.
Entry OpenModule(const std::string& name, const std::string& symbol, const char* what) {
  std::string file = "vexlor-" + name + ".so";
  std::filesystem::path tool = ToolDirectory();
  const std::string places[] = {(tool / VEXLOR_MODULE_RELDIR).lexically_normal().string(),
                                tool.string()};
  for (const std::string& dir : places) {
    std::string path = dir + "/" + file;
    if (::access(path.c_str(), F_OK) != 0) continue;
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module)
      FailData("cannot load the module " + path + ", needed for " + what + ": " + ::dlerror() +
               "; install the libraries it needs, or reinstall vexlor");
    if (void* entry = ::dlsym(module, symbol.c_str())) return reinterpret_cast<Entry>(entry);
    FailData(path + " is not a vexlor module (it has no " + symbol + "); reinstall vexlor");
  }
  FailData("the module " + file + ", needed for " + what + ", is missing (looked in " +
           places[0] + " and " + places[1] + "); reinstall vexlor");
}

}  // namespace

void* LoadRoom(const char* name, const char* what) {
  static std::mutex mutex;
  static std::map<std::string, void*> rooms;
  std::lock_guard lock(mutex);
  if (void* room = rooms[name]) return room;
  std::string symbol = std::string("vexlor_") + name + "_room";
  auto entry = reinterpret_cast<Entry>(::dlsym(RTLD_DEFAULT, symbol.c_str()));
  if (!entry) entry = OpenModule(name, symbol, what);
  void* room = entry(VEXLOR_VERSION);
  if (!room)
    FailData(std::string("the module vexlor-") + name + ".so is of another vexlor version than "
             "vexlor " VEXLOR_VERSION "; reinstall vexlor");
  return rooms[name] = room;
}

}  // namespace vexlor::cli
