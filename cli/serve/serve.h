// vexlor serve: a live editor in the browser, over a small JSON API on one
// input picture or video.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "cli/base/args.h"
#include "cli/media/frames.h"
#include "engine/engine.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace vexlor::cli {

// What the server edits and where it listens.
struct ServeOptions {
  std::string input;        // the file shown, as named on the command line
  std::string programFile;  // -f FILE, the file Save writes; empty without one
  std::string program;      // the program the page starts with
  bool clamp = false;
  int64_t frame = 0;
  // rand()'s generator before the first pixel of every render, as apply
  // starts it: the engine's first state unless the command line sets another.
  uint32_t randStart = kRandFirstState;
  std::string host = "127.0.0.1";
  int port = 0;  // 0: a free port
};

// Limits on what a request may carry.
inline constexpr size_t kMaxRequestBody = 64 * 1024;

// The engine serves one job at a time. Renders wait their turn, and one that
// is still waiting when a newer render arrives is dropped: only the newest
// text is worth the time. Checks and saves always run.
class EngineQueue {
 public:
  // Runs job once the engine is free; false, without running it, when a newer
  // render came in while this one waited.
  bool Render(const std::function<void()>& job);
  // Runs job once the engine is free.
  void Run(const std::function<void()>& job);

 private:
  void Acquire(std::unique_lock<std::mutex>& lock);
  void Release();
  void RunHeld(std::unique_lock<std::mutex>& lock, const std::function<void()>& job);
  std::mutex mutex_;
  std::condition_variable free_;
  bool busy_ = false;
  uint64_t newestRender_ = 0;
};

// The HTTP server of the editor: the page, the API and the one input.
class EditorServer {
 public:
  EditorServer(ServeOptions options, std::unique_ptr<FrameSource> source);
  ~EditorServer();
  EditorServer(const EditorServer&) = delete;
  EditorServer& operator=(const EditorServer&) = delete;

  // Binds the listening socket and returns the port; a data failure when the
  // address cannot be bound.
  int Bind();
  // Serves until Stop; false when listening failed.
  bool Serve();
  void Stop();
  // The address the server prints and the page is opened at.
  std::string Url() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Offset of the first byte in text that is not part of well-formed UTF-8
// (no overlong forms, surrogates or values above U+10FFFF), or npos when
// all of it is. The page holds UTF-8 text only.
size_t Utf8ErrorOffset(std::string_view text);

// Quotes text for a POSIX shell, within single quotes where it needs them.
std::string ShellWord(const std::string& text);

}  // namespace vexlor::cli
