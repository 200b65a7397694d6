// The editor's server: a live editor in the browser, over a small JSON API
// on one input picture or video.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "cli/media/frames.h"
#include "cli/serve/editor.h"
#include "cli/serve/http.h"

namespace vexlor::cli {

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
  EditorServer(ServeOptions options, std::unique_ptr<FrameSource> source,
               HttpLimits limits = {});
  ~EditorServer();
  EditorServer(const EditorServer&) = delete;
  EditorServer& operator=(const EditorServer&) = delete;

  // Binds the listening socket and returns the port; a data failure when the
  // address cannot be bound.
  int Bind();
  // Starts serving (on the bound socket, if any); false when it cannot.
  bool Start();
  // Starts and serves until Stop; false when serving could not start.
  bool Serve();
  // Serves one connected socket, which the server then owns; after Start.
  void AddConnection(int fd);
  // Stops between requests: the answers being made are sent first.
  void Stop();
  // The address the server prints and the page is opened at.
  std::string Url() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vexlor::cli
