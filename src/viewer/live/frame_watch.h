// Watches the live view's frames: when the newest arrived, and whether the
// camera has gone quiet for much longer than a frame takes, so that a camera
// that stops sending frames (it did not take a setting, its stream broke) is
// said in the status line rather than left as a frozen picture.
#pragma once

#include <QObject>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <functional>

namespace viewer {

// How long live view may go without a frame before it is said: three frame
// times and a second, and never under three seconds. `frameMs` is what one
// frame takes (the exposure, or the measured interval if longer).
int quietLimitMs(double frameMs);

class FrameWatch : public QObject {
    Q_OBJECT
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kLookMs = 250;

    // `frameMs` tells what one frame takes now (window thread).
    explicit FrameWatch(std::function<double()> frameMs, QObject* parent = nullptr);

    // Window thread: live view starts (the wait for the first frame begins)
    // and stops.
    void start();
    void stop();
    bool quiet() const { return silent; }

    // Any thread: a frame arrived.
    void frameArrived() { newest = Clock::now().time_since_epoch().count(); }
    // Since the newest frame (or the start).
    Clock::duration sinceNewest() const;

  signals:
    // No frame for `seconds`: once per quiet spell.
    void wentQuiet(int seconds);
    // Frames again after a quiet spell.
    void resumed();

  private:
    void look();

    std::function<double()> frameMs;
    std::atomic<Clock::rep> newest{0};
    bool silent = false;
    QTimer timer;
};

}  // namespace viewer
