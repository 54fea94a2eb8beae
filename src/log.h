// The library's logger: levelled messages to standard error, or to the
// handler the application set with SetLogHandler. Nothing goes to stdout.
#pragma once

#include "ezcam.h"

namespace ezlog {

// True when a message of this level is delivered: at or above the level that
// EZCAM_LOG names (error, warn, info, debug; warn when unset or unknown).
bool enabled(int level);

// Sets the level in place of EZCAM_LOG's; returns the level it replaces.
int setLevel(int level);

// One message each, in printf format, without a trailing newline.
void error(const char* format, ...) __attribute__((format(printf, 1, 2)));
void warn(const char* format, ...) __attribute__((format(printf, 1, 2)));
void info(const char* format, ...) __attribute__((format(printf, 1, 2)));
void debug(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace ezlog
