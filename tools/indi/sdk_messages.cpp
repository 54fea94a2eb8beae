#include "sdk_messages.h"

#include <cstdio>

#include "ezcam.h"

namespace ezindi {
namespace {

thread_local std::string latestMessage;

void onSdkMessage(void*, int level, const char* message) {
    if (level <= EZ_LOG_WARN) latestMessage = message;
    std::fprintf(stderr, "ezcam: %s\n", message);
}

}  // namespace

void routeSdkMessages() { SetLogHandler(onSdkMessage, nullptr); }

void clearSdkMessage() { latestMessage.clear(); }

std::string sdkMessage() { return latestMessage; }

std::string describeFailure(const std::string& what, int status) {
    const char* name = StatusName(status);
    std::string text = what + ": " + (name ? name : std::to_string(status));
    if (!latestMessage.empty()) text += " (" + latestMessage + ")";
    return text;
}

}  // namespace ezindi
