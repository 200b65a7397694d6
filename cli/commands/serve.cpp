// vexlor serve's command: options, the address line, and serving until
// SIGINT or SIGTERM, which a thread of its own waits for so that the server
// stops between requests and the process exits cleanly.
#include <arpa/inet.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include <atomic>
#include <cstdio>
#include <thread>

#include "cli/commands/commands.h"
#include "cli/serve/serve.h"

namespace vexlor::cli {

namespace {

constexpr const char* kCopyProgram = "rd=rs;gd=gs;bd=bs;";

// Whether an address to listen on is this machine's own: 127.0.0.0/8, ::1
// or localhost.
bool IsLoopback(const std::string& host) {
  in_addr v4;
  in6_addr v6;
  if (::inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  if (::inet_pton(AF_INET6, host.c_str(), &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
  return host == "localhost";
}

// Refuses a program that is not UTF-8: the page would show U+FFFD for its
// bad bytes, render that text instead, and Save would write it over the
// user's bytes.
std::string Utf8Program(std::string program, const std::string& origin) {
  if (size_t at = Utf8ErrorOffset(program); at != std::string::npos)
    FailData("serve: " + origin + " is not UTF-8 text (byte " + std::to_string(at) +
             "); the editor holds UTF-8 only and would replace it: convert it first, e.g. with "
             "iconv -f latin1 -t utf-8");
  return program;
}

// The program the page starts with: -f FILE's (which Save writes back), the
// PROGRAM argument, or a program that copies the source.
std::string StartProgram(Args& args, ServeOptions& options) {
  if (const std::string* file = args.Value("-f")) {
    if (*file == "-") FailUsage("serve: -f - cannot be saved back; name a file");
    options.programFile = *file;
    // A file that does not exist yet is made by the first Save.
    if (::access(file->c_str(), F_OK) != 0 && errno == ENOENT) return kCopyProgram;
    return Utf8Program(ReadProgramFile(*file), *file);
  }
  if (args.positional.size() == 2) {
    std::string program = std::move(args.positional.front());
    args.positional.erase(args.positional.begin());
    return Utf8Program(std::move(program), "the PROGRAM");
  }
  return kCopyProgram;
}

}  // namespace

int RunServe(Args& args) {
  ServeOptions options;
  options.program = StartProgram(args, options);
  ExpectPositional(args, 1, "[PROGRAM] INPUT");
  CheckProgramLength(options.program);
  options.input = args.positional[0];
  options.clamp = args.Has("--clamp");
  options.frame = Int32Option(args, "--frame", 0);
  options.port = static_cast<int>(CountOption(args, "--port", 0, 65535));
  if (const std::string* host = args.Value("--host")) options.host = *host;
  // rand()'s starting state for every render.
  options.randStart = RandSeedOption(args).value_or(kRandFirstState);

  std::unique_ptr<FrameSource> source = OpenFrameSource(options.input);
  if (source->video() && (options.frame < 0 || options.frame >= source->count()))
    FailUsage("--frame: " + options.input + " has frames 0 to " +
              std::to_string(source->count() - 1));

  // Every thread the server starts inherits the blocked signals; only the
  // waiting thread receives them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

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

  std::atomic<bool> signalled{false};
  std::thread waiter([&] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    signalled = true;
    server.Stop();
  });
  bool served = server.Serve();
  // When serving ended on its own, wake the waiting thread.
  if (!signalled) pthread_kill(waiter.native_handle(), SIGTERM);
  waiter.join();
  if (!served) FailData("the server stopped: cannot accept connections");
  return 0;
}

}  // namespace vexlor::cli
