// Helpers for the simulator tests: host-side transfers on a simulated camera
// and simple statistics of the frames it sends.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "ezcam.h"
#include "sim/sim_camera.h"

namespace simtest {

inline uint32_t out(sim::SimCamera& c, uint8_t request, uint16_t value, uint16_t index,
                    std::vector<uint8_t> data = {}) {
    EZURB urb{0x40, request, value, index, static_cast<uint16_t>(data.size()),
              data.empty() ? nullptr : data.data(), 0};
    return c.control(urb);
}

// A device-to-host request; the reply is cut to the bytes the device sent.
inline uint32_t in(sim::SimCamera& c, uint8_t request, uint16_t value, uint16_t index,
                   std::vector<uint8_t>& reply, uint16_t length = 64) {
    reply.assign(length, 0xee);
    EZURB urb{0xc0, request, value, index, length, reply.data(), 0};
    const uint32_t status = c.control(urb);
    reply.resize(urb.lengthDone);
    return status;
}

// One whole frame, read with a buffer larger than any frame.
inline std::vector<uint8_t> frame(sim::SimCamera& c, int pipe = 1, uint32_t* status = nullptr) {
    std::vector<uint8_t> buffer(c.nextFrameShape().total() + 4096);
    int received = 0;
    const uint32_t s = c.bulkRead(pipe, buffer.data(), static_cast<int>(buffer.size()), &received);
    if (status) *status = s;
    buffer.resize(static_cast<size_t>(received));
    return buffer;
}

// Samples of a frame's pixel data as numbers (16-bit ones in the given order).
enum class Order { Byte, Msb, Lsb };
inline std::vector<int> samples(const std::vector<uint8_t>& bytes, size_t from, size_t count,
                                Order order) {
    std::vector<int> s(count);
    for (size_t i = 0; i < count; ++i) {
        if (order == Order::Byte)
            s[i] = bytes[from + i];
        else if (order == Order::Msb)
            s[i] = bytes[from + 2 * i] << 8 | bytes[from + 2 * i + 1];
        else
            s[i] = bytes[from + 2 * i + 1] << 8 | bytes[from + 2 * i];
    }
    return s;
}

// Mean of a rectangle of a width-wide image, optionally one Bayer site only
// (sx, sy: column and row parity; -1 for every sample).
inline double mean(const std::vector<int>& image, int width, int x0, int y0, int w, int h,
                   int sx = -1, int sy = -1) {
    double sum = 0;
    long n = 0;
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x) {
            if ((sx >= 0 && (x & 1) != sx) || (sy >= 0 && (y & 1) != sy)) continue;
            sum += image[static_cast<size_t>(y) * width + x];
            ++n;
        }
    return n ? sum / n : 0;
}

// Samples of an 8-bit raw frame far above both same-colour neighbours, as
// the defect search sees them.
inline int hotSamples(const _ezImage* frame) {
    int count = 0;
    for (int y = 2; y < frame->height - 2; ++y) {
        const unsigned char* row = frame->data + size_t(y) * frame->width;
        for (int x = 2; x < frame->width - 2; ++x)
            if (row[x] > 32 && row[x] > 3 * std::max(row[x - 2], row[x + 2])) ++count;
    }
    return count;
}

}  // namespace simtest
