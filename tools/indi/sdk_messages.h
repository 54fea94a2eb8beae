// What the SDK said while a call of this thread ran, so that a failure can be
// shown to the INDI client with the SDK's own reason.
#pragma once

#include <string>

namespace ezindi {

// Routes the SDK's log messages through this driver (to standard error, which
// indiserver logs, and into the calling thread's latest message).
void routeSdkMessages();

// Forgets this thread's latest warning or error of the SDK.
void clearSdkMessage();

// This thread's latest warning or error of the SDK since clearSdkMessage; "" if none.
std::string sdkMessage();

// "what: EZ_ERANGE" followed by the SDK's message, if it logged one.
std::string describeFailure(const std::string& what, int status);

}  // namespace ezindi
