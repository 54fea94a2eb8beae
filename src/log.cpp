// The library's logger: the level from EZCAM_LOG, delivery to standard error
// or to the application's handler.
#include "log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace ezlog {
namespace {

constexpr const char* kLevelNames[] = {"error", "warn", "info", "debug"};

int thresholdFromEnvironment() {
    const char* text = std::getenv("EZCAM_LOG");
    if (!text || !*text) return EZ_LOG_WARN;
    for (int level = EZ_LOG_ERROR; level <= EZ_LOG_DEBUG; ++level)
        if (std::strcmp(text, kLevelNames[level]) == 0) return level;
    std::fprintf(stderr, "ezcam: EZCAM_LOG=%s is not one of error, warn, info, debug; using warn\n",
                 text);
    return EZ_LOG_WARN;
}

std::atomic<int> currentLevel{-1};  // -1 until EZCAM_LOG has been read

int threshold() {
    int level = currentLevel.load(std::memory_order_relaxed);
    if (level < 0) {
        // Read once; a level set meanwhile wins.
        int unset = -1;
        level = thresholdFromEnvironment();
        if (!currentLevel.compare_exchange_strong(unset, level)) level = unset;
    }
    return level;
}

struct Sink {
    // Held while a message is delivered, so that SetLogHandler never returns
    // while the old handler still runs; recursive for a handler that logs or
    // changes the handler itself.
    std::recursive_mutex mutex;
    EzLogHandler handler = nullptr;
    void* receiver = nullptr;
};

// Never destroyed: cameras may log during static destruction.
Sink& sink() {
    static Sink* instance = new Sink;
    return *instance;
}

void deliver(int level, const char* format, va_list args) {
    if (!enabled(level)) return;
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    Sink& s = sink();
    std::lock_guard lock(s.mutex);
    if (s.handler) {
        s.handler(s.receiver, level, text);
    } else {
        // One call per line (stdio locks the stream for it), and no
        // allocation: logging never fails its caller.
        std::fprintf(stderr, "ezcam %s: %s\n", kLevelNames[level], text);
    }
}

}  // namespace

int setLevel(int level) {
    const int previous = threshold();
    currentLevel.store(level);
    return previous;
}

bool enabled(int level) {
    return level <= threshold();
}

#define EZLOG_DELIVER(level)          \
    va_list args;                     \
    va_start(args, format);           \
    deliver(level, format, args);     \
    va_end(args)

void error(const char* format, ...) { EZLOG_DELIVER(EZ_LOG_ERROR); }
void warn(const char* format, ...) { EZLOG_DELIVER(EZ_LOG_WARN); }
void info(const char* format, ...) { EZLOG_DELIVER(EZ_LOG_INFO); }
void debug(const char* format, ...) { EZLOG_DELIVER(EZ_LOG_DEBUG); }

#undef EZLOG_DELIVER

}  // namespace ezlog

extern "C" void SetLogHandler(EzLogHandler handler, void* receiver) {
    ezlog::Sink& s = ezlog::sink();
    std::lock_guard lock(s.mutex);
    s.handler = handler;
    s.receiver = receiver;
}
