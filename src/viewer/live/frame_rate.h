// The live view's frame-rate readout and the capture button's trigger.
#pragma once

#include <QString>
#include <chrono>
#include <optional>

namespace viewer {

// Counts displayed frames and measures every ten of them.
class FrameRateMeter {
  public:
    using Clock = std::chrono::steady_clock;

    void start(Clock::time_point now);
    // One displayed frame. On every tenth, the milliseconds those ten took.
    std::optional<int> frameShown(Clock::time_point now);

    // "%.2f fps" for ten frames in `dustm` milliseconds; an interval that
    // measured 0 ms reads as an infinite rate.
    static QString text(int dustm);

  private:
    int cntFrame = 0;
    Clock::time_point tmStart{};
};

// One still per run of frames that carry the camera's capture request: the
// next capture needs at least one unmarked good frame in between.
class CaptureTrigger {
  public:
    // `result` of a frame read; true when this frame must take a still.
    bool frameRead(int result);

  private:
    bool armed = true;
};

}  // namespace viewer
