// The live view's frame buffers and their hand-over.
#include "viewer/live/grab_context.h"

#include <cstring>
#include <new>
#include <utility>

namespace viewer {

bool GenericGrabContext::init(int head, int size) {
    release();
    if (size <= 0 || head < 0 || head >= size) return false;
    recvHead = head;
    recvSize = size;
    for (Buffer* buffer : {&recvBuf, &idleBuf, &fullBuf}) {
        buffer->reset(new (std::nothrow) unsigned char[size_t(size)]);
        if (!*buffer) {
            release();
            return false;
        }
    }
    // The first display buffer now, so that a camera whose images do not
    // fit in memory is refused here rather than showing nothing.
    if (!nextShowBuffer()) {
        release();
        return false;
    }
    return true;
}

GenericGrabContext::SharedBuffer GenericGrabContext::nextShowBuffer() {
    return showBufs.next([this] { return SharedBuffer(new (std::nothrow) unsigned char[showCapacity()]); });
}

void GenericGrabContext::release() {
    std::lock_guard guard(lkSwap);
    recvBuf.reset();
    idleBuf.reset();
    fullBuf.reset();
    showBufs.clear();  // shown frames keep theirs
    recvSize = recvHead = 0;
    lkObtain = idleValid = fullValid = fullBusy = false;
}

void GenericGrabContext::startRun() {
    std::lock_guard guard(lkSwap);
    lkObtain = false;
    lkRun = true;
}

void GenericGrabContext::stopRun() {
    {
        std::lock_guard guard(lkSwap);
        lkRun = false;
    }
    obtained.notify_all();
}

void GenericGrabContext::handOver() {
    {
        std::lock_guard guard(lkSwap);
        std::swap(recvBuf, idleBuf);
        lkObtain = true;
        idleValid = true;
    }
    obtained.notify_one();
}

bool GenericGrabContext::takeNewest() {
    std::unique_lock guard(lkSwap);
    obtained.wait(guard, [this] { return lkObtain || !lkRun; });
    if (!lkRun) return false;
    std::swap(idleBuf, fullBuf);
    std::swap(idleValid, fullValid);
    lkObtain = false;
    fullBusy = true;
    return true;
}

void GenericGrabContext::releaseFull() {
    std::lock_guard guard(lkSwap);
    fullBusy = false;
}

std::vector<unsigned char> GenericGrabContext::newestFrame() {
    std::lock_guard guard(lkSwap);
    // Under the lock nobody writes idleBuf: the grab thread fills recvBuf and
    // the show thread works on fullBuf. A waiting frame is newer than fullBuf,
    // and fullBuf newer than a frame already taken.
    const unsigned char* newest = nullptr;
    if (lkObtain && idleValid)
        newest = idleBuf.get();
    else if (fullValid && !fullBusy)
        newest = fullBuf.get();
    else if (idleValid)
        newest = idleBuf.get();
    if (!newest) return {};
    return std::vector<unsigned char>(newest, newest + recvSize);
}

}  // namespace viewer
