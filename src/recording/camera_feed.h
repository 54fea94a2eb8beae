// Feeds a recorder from a camera of the call surface: reads every frame
// straight into the recorder's queue, or, when the queue is full, into a
// spare buffer so the frame is counted as dropped while the stream goes on.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "recording/recorder.h"

namespace recording {

struct FeedLimits {
    uint64_t frames = 0;  // frames to take from the camera; 0: no limit
    double seconds = 0;   // how long to record; 0: no limit
};

using Progress = std::function<void(const RecordingCounts& counts, double seconds)>;

// Runs until a limit is reached, `stop` is set, or the camera fails (then
// the message says why). The recorder is not finished here. `progress`, if
// given, is called on this thread about every `every` seconds.
bool feedFromCamera(const std::string& camera, Recorder& recorder, const FeedLimits& limits,
                    const std::atomic<bool>* stop, const Progress& progress, double every,
                    std::string& message);

}  // namespace recording
