// The worker pool: thread i of the pool runs task i + 1 of every Run that has
// that many tasks, so a task never waits for another thread's queue.
#include "pixel/worker_pool.h"

#include <algorithm>
#include <cfenv>
#include <system_error>

namespace vexlor {

WorkerPool::WorkerPool(bool persistent) : persistent_(persistent) {}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : threads_) t.join();
}

// Starts threads until `wanted` wait, as far as the system gives them.
void WorkerPool::Grow(int wanted) {
  while (static_cast<int>(threads_.size()) < wanted) {
    try {
      threads_.emplace_back(&WorkerPool::Serve, this, static_cast<int>(threads_.size()));
    } catch (const std::system_error&) {
      return;
    }
  }
}

// Thread `index` waits for each Run and runs its task when the Run has one
// for it.
void WorkerPool::Serve(int index) {
  uint64_t seen = 0;
  for (;;) {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait(lock, [&] { return stopping_ || round_ != seen; });
    if (stopping_) return;
    seen = round_;
    int task = index + 1;
    if (task >= count_) continue;
    const std::function<void(int)>* fn = task_;
    lock.unlock();
    (*fn)(task);
    lock.lock();
    if (--pending_ == 0) done_.notify_one();
  }
}

void WorkerPool::Run(int count, const std::function<void(int)>& task) {
  if (count <= 0) return;
  std::fenv_t env;
  std::fegetenv(&env);
  // Each task takes on the caller's environment, and the calling thread,
  // which runs task 0 and any task no thread took, keeps its own.
  std::function<void(int)> wrapped = [&](int t) {
    std::fenv_t mine;
    std::fegetenv(&mine);
    std::fesetenv(&env);
    task(t);
    std::fesetenv(&mine);
  };
  if (!persistent_) {
    std::vector<std::thread> started;
    int t = 1;
    for (; t < count; ++t) {
      try {
        started.emplace_back(wrapped, t);
      } catch (const std::system_error&) {
        break;
      }
    }
    task(0);
    for (; t < count; ++t) task(t);
    for (std::thread& th : started) th.join();
    return;
  }
  Grow(count - 1);
  int served = std::min(count - 1, static_cast<int>(threads_.size()));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    task_ = &wrapped;
    count_ = served + 1;
    pending_ = served;
    ++round_;
  }
  wake_.notify_all();
  task(0);
  for (int t = served + 1; t < count; ++t) task(t);
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [&] { return pending_ == 0; });
  task_ = nullptr;
}

}  // namespace vexlor
