// A small pool of worker threads that runs the stripes of one frame: the
// calling thread takes part, the others wait between frames without
// spinning. Threads are started when first needed and kept.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class WorkerPool {
  public:
    WorkerPool() = default;
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Runs task(0) .. task(count - 1), spread over `threads` threads in all
    // (the caller's included), and returns when every task has finished.
    // One run at a time.
    void run(int threads, int count, const std::function<void(int)>& task);

  private:
    void work();
    void take(std::unique_lock<std::mutex>& lock);

    std::mutex mutex;
    std::condition_variable wake;  // a new run, or the end
    std::condition_variable done;  // the last task of a run finished
    std::vector<std::thread> workers;
    const std::function<void(int)>* job = nullptr;
    uint64_t generation = 0;  // runs started
    int helpers = 0;          // workers asked to join the current run
    int next = 0, count = 0, unfinished = 0;
    bool stopping = false;
};
