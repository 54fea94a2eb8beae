// The worker pool of the frame pipeline.
#include "pipeline/workers.h"

WorkerPool::~WorkerPool() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    for (std::thread& t : workers) t.join();
}

void WorkerPool::run(int threads, int tasks, const std::function<void(int)>& task) {
    if (tasks <= 0) return;
    if (threads <= 1 || tasks == 1) {
        for (int i = 0; i < tasks; ++i) task(i);
        return;
    }
    std::unique_lock<std::mutex> lock(mutex);
    while (static_cast<int>(workers.size()) < threads - 1) workers.emplace_back([this] { work(); });
    job = &task;
    next = 0;
    count = tasks;
    unfinished = tasks;
    helpers = threads - 1;
    ++generation;
    lock.unlock();
    wake.notify_all();
    lock.lock();
    take(lock);
    done.wait(lock, [this] { return unfinished == 0; });
    job = nullptr;
}

// Runs tasks of the current run until none is left; called with the lock held.
void WorkerPool::take(std::unique_lock<std::mutex>& lock) {
    while (next < count) {
        const int index = next++;
        const std::function<void(int)>& task = *job;
        lock.unlock();
        task(index);
        lock.lock();
        if (--unfinished == 0) done.notify_all();
    }
}

void WorkerPool::work() {
    uint64_t seen = 0;
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        wake.wait(lock, [&] { return stopping || (generation != seen && helpers > 0); });
        if (stopping) return;
        seen = generation;
        --helpers;
        take(lock);
    }
}
