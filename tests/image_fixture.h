// Exact-size test images: the pixels live in a vector of exactly the image's
// size, so any access outside them trips AddressSanitizer.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "processing/image_record.h"

struct TestImage {
    std::vector<unsigned char> bytes;
    _ezImage record{};

    TestImage(int width, int height, int channels, int depth, int decoded = 1)
        : bytes(static_cast<size_t>(width) * height * channels * depth / 8) {
        ezInitImageHeader(&record, width, height, channels, depth, 56, bytes.data(), 0, decoded);
    }
    _ezImage* get() { return &record; }
    size_t index(int x, int y, int k) const {
        return (static_cast<size_t>(y) * record.width + x) * record.channels + k;
    }
    // Sample k of pixel (x, y) in the record's current (packed) layout.
    unsigned at(int x, int y, int k = 0) const {
        const size_t i = index(x, y, k);
        if (record.depth == 8) return record.data[i];
        uint16_t v;
        std::memcpy(&v, record.data + 2 * i, 2);
        return v;
    }
    void set(int x, int y, int k, unsigned v) {
        const size_t i = index(x, y, k);
        if (record.depth == 8) {
            record.data[i] = static_cast<unsigned char>(v);
        } else {
            const auto s = static_cast<uint16_t>(v);
            std::memcpy(record.data + 2 * i, &s, 2);
        }
    }
    template <typename F>
    void fill(F f) {
        for (int y = 0; y < record.height; ++y)
            for (int x = 0; x < record.width; ++x)
                for (int k = 0; k < record.channels; ++k) set(x, y, k, f(x, y, k));
    }
};
