// Threads kept across frames: a frame's bands of rows are handed to threads
// that already wait, instead of threads started for every frame.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace vexlor {

class WorkerPool {
 public:
  // With `persistent` false the pool starts its threads for each Run and
  // joins them before it returns, keeping none: for a module that may be
  // unloaded while threads of its own would still wait.
  explicit WorkerPool(bool persistent = true);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Runs task(0) .. task(count - 1), task(0) on the calling thread and the
  // others on the pool's threads, and returns when all have ended. Every
  // task runs under the caller's floating-point environment (rounding,
  // flushing of subnormals). Where no thread can be had the caller runs the
  // task itself. Not reentrant: one Run at a time.
  void Run(int count, const std::function<void(int)>& task);

  // Threads waiting for work (0 for a pool that keeps none).
  int threads() const { return static_cast<int>(threads_.size()); }

 private:
  void Serve(int index);
  void Grow(int wanted);

  bool persistent_;
  std::mutex mutex_;
  std::condition_variable wake_, done_;
  std::vector<std::thread> threads_;
  const std::function<void(int)>* task_ = nullptr;
  int count_ = 0;           // tasks of the current Run
  uint64_t round_ = 0;      // increases with every Run
  int pending_ = 0;         // tasks of the current Run not yet ended
  bool stopping_ = false;
};

}  // namespace vexlor
