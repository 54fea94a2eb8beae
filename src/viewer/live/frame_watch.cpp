// The live view's watch over its frames.
#include "viewer/live/frame_watch.h"

#include <algorithm>

namespace viewer {

int quietLimitMs(double frameMs) {
    return int(std::max(3000.0, 3 * std::max(frameMs, 0.0) + 1000));
}

FrameWatch::FrameWatch(std::function<double()> frameMs_, QObject* parent)
    : QObject(parent), frameMs(std::move(frameMs_)) {
    timer.setInterval(kLookMs);
    connect(&timer, &QTimer::timeout, this, &FrameWatch::look);
}

void FrameWatch::start() {
    frameArrived();
    silent = false;
    timer.start();
}

void FrameWatch::stop() {
    timer.stop();
    silent = false;
}

FrameWatch::Clock::duration FrameWatch::sinceNewest() const {
    return Clock::now() - Clock::time_point(Clock::duration(newest.load()));
}

void FrameWatch::look() {
    const auto quietFor = std::chrono::duration_cast<std::chrono::milliseconds>(sinceNewest());
    const bool nowQuiet = quietFor.count() >= quietLimitMs(frameMs());
    if (nowQuiet == silent) return;
    silent = nowQuiet;
    if (silent)
        emit wentQuiet(int(quietFor.count() / 1000));
    else
        emit resumed();
}

}  // namespace viewer
