// Keeps C++ exceptions inside the library: every exported call and every
// callback that C code runs goes through guarded(), which answers with a
// result instead of letting the exception reach a caller that cannot catch it.
#pragma once

#include <exception>
#include <new>
#include <type_traits>

#include "log.h"

namespace ezcam {

// Logs what was thrown at error level, naming the entry point (taken with
// __builtin_FUNCTION: clang 14 has no std::source_location); logging never
// throws out of here.
inline void reportThrown(const char* where, const char* what) noexcept {
    try {
        ezlog::error("%s failed: %s", where, what);
    } catch (...) {
    }
}

// Runs body and returns its result; when it throws, logs why and returns
// `failure` instead. Calls answering a status pass EZ_EIO (also for memory
// running out, as the calls that allocate report it); calls answering a value
// pass what they answer when there is nothing to report (0, "", null).
template <typename Body, typename R = std::invoke_result_t<Body&>>
R guarded(std::type_identity_t<R> failure, Body&& body,
          const char* where = __builtin_FUNCTION()) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        reportThrown(where, "out of memory");
    } catch (const std::exception& e) {
        reportThrown(where, e.what());
    } catch (...) {
        reportThrown(where, "unknown exception");
    }
    return failure;
}

// The same for calls that answer nothing.
template <typename Body>
void guarded(Body&& body, const char* where = __builtin_FUNCTION()) noexcept {
    guarded(
        0,
        [&] {
            body();
            return 0;
        },
        where);
}

}  // namespace ezcam
