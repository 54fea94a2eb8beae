// The grab and show threads of the live view.
#include "viewer/live/live_threads.h"

#include <chrono>

#include "ezcam.h"
#include "viewer/captions.h"

namespace viewer {

LiveThreads::~LiveThreads() {
    stop();
    join();
}

void LiveThreads::start(GenericGrabContext& context, LiveHooks newHooks) {
    join();
    ctx = &context;
    hooks = std::move(newHooks);
    ctx->startRun();
    flgShow = true;
    show = std::thread(&LiveThreads::showThread, this);
    grab = std::thread(&LiveThreads::grabThread, this);
}

void LiveThreads::stop() {
    if (ctx) ctx->stopRun();
}

void LiveThreads::join() {
    if (grab.joinable()) grab.join();
    if (show.joinable()) show.join();
}

void LiveThreads::grabThread() {
    viewerLog(QStringLiteral("Grab thread enter!"));
    CaptureTrigger trigger;
    while (ctx->lkRun) {
        const int r = hooks.readFrame(ctx->recvBuf.get(), ctx->recvSize);
        if (trigger.frameRead(r) && hooks.captureRequested) hooks.captureRequested();
        if (r == EZ_OK || r == EZ_CAPTURE)
            ctx->handOver();
        else  // a camera that fails at once (gone, refusing) must not spin a core
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // The show thread may still be converting its last frame.
    while (flgShow) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    viewerLog(QStringLiteral("Grab thread left!"));
    if (hooks.ended) hooks.ended();
}

void LiveThreads::showThread() {
    viewerLog(QStringLiteral("Show thread enter!"));
    FrameRateMeter meter;
    meter.start(FrameRateMeter::Clock::now());
    while (ctx->takeNewest()) {
        const GenericGrabContext::SharedBuffer image = ctx->nextShowBuffer();
        const int r = image ? hooks.decode(ctx->fullBuf.get(), image.get()) : EZ_EIO;
        ctx->releaseFull();
        // A frame that was not converted is not shown: its record would
        // describe whatever the buffer held before.
        if (r != EZ_OK) continue;
        std::optional<DisplayFrame> frame = displayPixels(image.get(), ctx->showCapacity());
        if (!frame) continue;
        frame->owner = image;
        // The raw frame stays this thread's until the next one is taken.
        frame->raw = ctx->fullBuf.get();
        frame->rawCapacity = size_t(ctx->recvSize);
        if (hooks.frameShown) hooks.frameShown(*frame);
        if (const std::optional<int> dustm = meter.frameShown(FrameRateMeter::Clock::now()))
            if (hooks.rateMeasured) hooks.rateMeasured(*dustm);
    }
    viewerLog(QStringLiteral("Show thread left!"));
    flgShow = false;
}

}  // namespace viewer
