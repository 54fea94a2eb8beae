// The two live-view threads. The grab thread reads raw frames and hands each
// over; the show thread converts the newest and passes the display image on.
// Neither touches a widget: what they produce leaves through the hooks, whose
// owner forwards it to the window's thread.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "viewer/live/display_frame.h"
#include "viewer/live/frame_rate.h"
#include "viewer/live/grab_context.h"

namespace viewer {

struct LiveHooks {
    // Reads one raw frame into the buffer (GetRawData): 0 a frame, 1 a frame
    // with the camera's capture request, anything else no frame.
    std::function<int(unsigned char* buffer, int size)> readFrame;
    // Turns a raw frame into the display image record (DecodeRaw2Image).
    std::function<int(unsigned char* raw, unsigned char* image)> decode;
    // The camera's capture button asks for a still (grab thread).
    std::function<void()> captureRequested;
    // One display image with the raw frame it was made from (show thread);
    // both live until the call returns.
    std::function<void(const DisplayFrame& frame)> frameShown;
    // Ten more frames were shown in `dustm` milliseconds (show thread).
    std::function<void(int dustm)> rateMeasured;
    // Both loops have ended (last call of the grab thread).
    std::function<void()> ended;
};

class LiveThreads {
  public:
    LiveThreads() = default;
    ~LiveThreads();  // stops and joins
    LiveThreads(const LiveThreads&) = delete;
    LiveThreads& operator=(const LiveThreads&) = delete;

    // Starts the show thread, then the grab thread, on a prepared context.
    void start(GenericGrabContext& context, LiveHooks hooks);
    // Asks both threads to finish; they end on their own.
    void stop();
    // Waits until both threads have left their loops and every camera call.
    void join();
    // Threads started and not yet joined.
    bool started() const { return grab.joinable() || show.joinable(); }

  private:
    void grabThread();
    void showThread();

    GenericGrabContext* ctx = nullptr;
    LiveHooks hooks;
    std::atomic<bool> flgShow{false};
    std::thread show;
    std::thread grab;
};

}  // namespace viewer
