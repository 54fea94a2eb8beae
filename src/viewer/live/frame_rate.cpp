// The live view's frame-rate readout and the capture button's trigger.
#include "viewer/live/frame_rate.h"

#include "ezcam.h"

namespace viewer {

void FrameRateMeter::start(Clock::time_point now) {
    cntFrame = 0;
    tmStart = now;
}

std::optional<int> FrameRateMeter::frameShown(Clock::time_point now) {
    if (cntFrame++ < 9) return std::nullopt;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - tmStart).count();
    tmStart = now;
    cntFrame = 0;
    return static_cast<int>(ms);
}

QString FrameRateMeter::text(int dustm) {
    if (dustm <= 0) return QStringLiteral("inf fps");
    return QString::asprintf("%.2f fps", 10000.0 / dustm);
}

bool CaptureTrigger::frameRead(int result) {
    if (result == EZ_CAPTURE) {
        const bool take = armed;
        armed = false;
        return take;
    }
    if (result == EZ_OK) armed = true;
    return false;
}

}  // namespace viewer
