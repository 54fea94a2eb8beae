// Records the library's log messages at every level while it lives.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "ezcam.h"
#include "log.h"

class LogRecorder {
  public:
    LogRecorder() : previous_(ezlog::setLevel(EZ_LOG_DEBUG)) { SetLogHandler(&record, this); }
    ~LogRecorder() {
        SetLogHandler(nullptr, nullptr);
        ezlog::setLevel(previous_);
    }
    // Messages as "level: text", level by its EZ_LOG_ value.
    std::vector<std::string> messages;

  private:
    static void record(void* receiver, int level, const char* text) {
        static_cast<LogRecorder*>(receiver)->messages.push_back(std::to_string(level) + ": " + text);
    }
    int previous_;
};
