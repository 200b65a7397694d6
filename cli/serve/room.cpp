// The editor's room: its entry point, and serving until SIGINT or SIGTERM,
// which a thread of its own waits for so that the server stops between
// requests and the process exits cleanly.
#include <arpa/inet.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

#include "cli/base/modules.h"
#include "cli/base/signals.h"
#include "cli/serve/serve.h"

namespace vexlor::cli {

namespace {

// Whether an address to listen on is this machine's own: 127.0.0.0/8, ::1
// or localhost.
bool IsLoopback(const std::string& host) {
  in_addr v4;
  in6_addr v6;
  if (::inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  if (::inet_pton(AF_INET6, host.c_str(), &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
  return host == "localhost";
}

// Serves options.input until a stop signal.
void RunEditor(const ServeOptions& options) {
  // The stop signals are blocked in every thread but the tool's signal
  // thread (cli/base/signals.h), since before the first thread started: the
  // server's, the engine's and a video decoder's threads never take them.
  std::unique_ptr<FrameSource> source = OpenFrameSource(options.input);
  if (source->video() && (options.frame < 0 || options.frame >= source->count()))
    FailUsage("--frame: " + options.input + " has frames 0 to " +
              std::to_string(source->count() - 1));

  EditorServer server(options, std::move(source));
  server.Bind();
  if (!IsLoopback(options.host))
    std::fprintf(stderr,
                 "vexlor: warning: listening on %s, not only this machine: anyone who can reach "
                 "it can see %s%s\n",
                 options.host.c_str(), options.input.c_str(),
                 options.programFile.empty() ? "" : " and overwrite the program file");
  std::printf("vexlor: editing %s on %s (Ctrl-C stops)\n", options.input.c_str(),
              server.Url().c_str());
  std::fflush(stdout);

  // A stop signal stops the server between requests; a second one ends the
  // process at once.
  bool served;
  {
    StopHandler stop([&](int) { server.Stop(); });
    served = server.Serve();
  }
  if (!served) FailData("the server stopped: cannot accept connections");
}

class Room final : public ServeRoom {
 public:
  void Run(const ServeOptions& options) override { RunEditor(options); }
};

}  // namespace

}  // namespace vexlor::cli

VEXLOR_ROOM_ENTRY(serve) {
  static vexlor::cli::Room room;
  return std::strcmp(version, VEXLOR_VERSION) == 0 ? static_cast<vexlor::cli::ServeRoom*>(&room)
                                                   : nullptr;
}
