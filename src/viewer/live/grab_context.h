// The live view's frame buffers and the hand-over between the grab and show
// threads. Raw buffers are never copied between the threads: their roles
// move by swapping pointers under lkSwap. Display images are decoded into
// buffers the shown frames then hold, so the window's picture is the decoded
// image itself rather than a copy of it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "viewer/live/recycler.h"

namespace viewer {

struct GenericGrabContext {
    using Buffer = std::unique_ptr<unsigned char[]>;
    using SharedBuffer = std::shared_ptr<unsigned char[]>;

    int recvSize = 0;                // bytes of one raw buffer
    int recvHead = 0;                // header bytes before the pixels
    Buffer recvBuf;                  // the grab thread's target for the next frame
    Buffer idleBuf;                  // the newest complete frame not yet taken by the show thread
    Buffer fullBuf;                  // the frame the show thread converts or last converted
    std::atomic<bool> lkRun{false};  // both threads loop while set

    // Allocates the buffers for frames of `size` bytes; false (and no buffers)
    // when that fails. Only while no live thread runs.
    bool init(int head, int size);
    void release();
    bool ready() const { return recvBuf != nullptr; }
    size_t showCapacity() const { return 3 * size_t(recvSize); }

    // Live view starts: no frame waiting.
    void startRun();
    // Clears lkRun and wakes the show thread.
    void stopRun();

    // Grab thread: recvBuf holds a new frame; it becomes the one waiting.
    void handOver();
    // Show thread: waits for a new frame and makes it fullBuf. False once
    // lkRun is cleared.
    bool takeNewest();
    // Show thread: done reading and rewriting fullBuf.
    void releaseFull();

    // Show thread: a buffer of showCapacity() bytes for the next display
    // image that nobody else holds any more (a shown frame keeps its buffer
    // as long as the window keeps the frame), or a fresh one when all are
    // held; null when memory runs out. A steady stream allocates only while
    // the first frames fill the set.
    SharedBuffer nextShowBuffer();

    // A copy of the newest complete frame; empty before any frame arrived.
    // Safe while the threads run.
    std::vector<unsigned char> newestFrame();

  private:
    Recycler<unsigned char[]> showBufs;  // display images, made as needed
    std::mutex lkSwap;
    std::condition_variable obtained;
    bool lkObtain = false;   // idleBuf holds a frame the show thread has not taken
    bool idleValid = false;  // idleBuf holds a complete frame, taken or not
    bool fullValid = false;  // fullBuf holds a complete frame
    bool fullBusy = false;   // the show thread works on fullBuf
};

}  // namespace viewer
