// The logger under threads: messages from many threads while the application
// swaps its handler never reach a handler that was already replaced.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ezcam.h"
#include "log.h"

namespace {
struct Receiver {
    std::atomic<bool> replaced{true};
    std::atomic<int> messages{0};
};

void receive(void* receiver, int, const char*) {
    auto* r = static_cast<Receiver*>(receiver);
    if (r->replaced) ADD_FAILURE() << "a replaced handler was called";
    ++r->messages;
}
}  // namespace

TEST(LogThreads, AReplacedHandlerIsNeverCalledAgain) {
    const int level = ezlog::setLevel(EZ_LOG_DEBUG);
    Receiver a, b;
    std::atomic<bool> stop{false};
    std::vector<std::thread> loggers;
    for (int t = 0; t < 3; ++t)
        loggers.emplace_back([&stop, t] {
            while (!stop) ezlog::debug("from thread %d", t);
        });
    // Each receiver counts as replaced from the return of the call that
    // replaced it until just before the call that sets it again. The swaps
    // go on until both have had messages, however slowly a loaded machine
    // lets the loggers run.
    for (int i = 0; i < 300 || a.messages == 0 || b.messages == 0; ++i) {
        a.replaced = false;
        SetLogHandler(&receive, &a);
        b.replaced = true;
        std::this_thread::yield();
        b.replaced = false;
        SetLogHandler(&receive, &b);
        a.replaced = true;
        std::this_thread::yield();
    }
    SetLogHandler(nullptr, nullptr);
    stop = true;
    for (std::thread& t : loggers) t.join();
    ezlog::setLevel(level);
}
