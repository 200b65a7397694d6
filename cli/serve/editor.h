// vexlor serve: what the command asks of the editor's room (cli/serve/),
// which is loaded with the HTTP library only when the editor is started.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vexlor::cli {

// What the server edits and where it listens.
struct ServeOptions {
  std::string input;        // the file shown, as named on the command line
  std::string programFile;  // -f FILE, the file Save writes; empty without one
  std::string program;      // the program the page starts with
  bool clamp = true;        // the page starts with channels limited (not --carry)
  bool exactText = false;   // run the text byte for byte (--exact-text), not free-form
  bool lenient = false;     // render programs that cannot do what they say (--lenient)
  int64_t frame = 0;
  // rand()'s generator before the first pixel of every render, as apply
  // starts it: the generator's first state unless the command line sets one.
  std::optional<uint32_t> randSeed;
  std::string host = "127.0.0.1";
  int port = 0;  // 0: a free port
};

// The editor's room.
class ServeRoom {
 public:
  // Opens INPUT, listens, prints the address to open and serves until
  // SIGINT or SIGTERM; a failure when it cannot.
  virtual void Run(const ServeOptions& options) = 0;

 protected:
  ~ServeRoom() = default;
};

}  // namespace vexlor::cli
