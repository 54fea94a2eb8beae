// A frame and the facts that travel with it.
//
// A raw frame lives in the caller's buffer: the image record over the
// header area, then the samples. The reader also writes the frame's
// description (EzFrameInfo: number, time, the settings it was taken under)
// into the header area behind the record, so that whoever holds the buffer
// holds the facts: decoding picks its calibration masters by them, stills
// stamp them, recordings store them. A buffer whose frame was lost, or was
// read without a description, carries none.
#pragma once

#include <time.h>

#include <cstddef>
#include <cstdint>

#include "camera/product_row.h"
#include "ezcam.h"

// One frame transfer as a layout frames it: what the reader plans before
// the bulk read and learns from it.
struct FramePlan {
    int width = 0;  // geometry written into the image record
    int height = 0;
    int depth = 8;        // bits per sample of the record
    int offset = 0;       // where the transfer lands: 0 (header first) or headLen
    uint32_t length = 0;  // bytes asked from the bulk pipe
    uint64_t needed = 0;  // extra buffer bytes the family's steps touch (0: none)
    int received = 0;     // bytes the transfer delivered (at most length)
    int resolution = 0;   // resolution index in force when the frame was asked for
    // The sample bytes the device sends (before its trailer), and the exact
    // count a good transfer holds.
    uint32_t pixelBytes = 0;
    uint32_t expected = 0;
    bool transferOk = false;  // the bulk read reported success
    FrameLayout::Kind layout = FrameLayout::Header;
    int binX = 1;  // software binning of a mode read out larger
    int binY = 1;
    int cutX = -1;  // or the column its stored size is cut out at
    int cutWidth = 0;
    int cutHeight = 0;
    bool captureFlag = false;  // this model reports the capture flag
    bool hostOrder = false;    // 16-bit samples arrive least significant byte first
    bool modeChange = false;   // a resolution, clock or region change was pending
    unsigned timeoutMs = 0;    // how long the bulk read may wait
    timespec transferEnd{};    // monotonic clock when the transfer returned
    timespec transferEndUtc{}; // the same moment in UTC
};

namespace frame {

// Where the facts sit in the header area, and the header area they need.
constexpr size_t kFactsOffset = 64;
constexpr size_t kFactsEnd = kFactsOffset + 4 + sizeof(EzFrameInfo);

// Writes the facts behind the record; a header area too small for them
// keeps none.
void storeFacts(unsigned char* buffer, size_t headerSize, const EzFrameInfo& info);
// Removes them (a lost frame, a frame read without a description).
void clearFacts(unsigned char* buffer, size_t headerSize);
// The facts a raw frame's buffer carries; false when it carries none.
bool storedFacts(const unsigned char* buffer, EzFrameInfo& info);

}  // namespace frame
