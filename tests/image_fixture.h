// Exact-size test images: the pixels live in a vector of exactly the image's
// size, so any access outside them trips AddressSanitizer.
#pragma once

#include <cstring>
#include <vector>

#include "processing/image_record.h"

struct TestImage {
    std::vector<unsigned char> bytes;
    _ezImage record{};

    TestImage(int w, int h, int channels, int depth, int decoded = 1) : bytes(size_t(w) * h * channels * depth / 8) {
        ezInitImageHeader(&record, w, h, channels, depth, 56, bytes.data(), 0, decoded);
    }
    _ezImage* get() { return &record; }
    // Sample k of pixel (x, y) in the record's current, packed layout.
    size_t index(int x, int y, int k = 0) const { return (size_t(y) * record.width + x) * record.channels + k; }
    unsigned at(int x, int y, int k = 0) const {
        uint16_t v = 0;
        std::memcpy(&v, record.data + index(x, y, k) * (record.depth / 8), record.depth / 8);
        return v;
    }
    void set(int x, int y, int k, unsigned v) { std::memcpy(record.data + index(x, y, k) * (record.depth / 8), &v, record.depth / 8); }
    template <typename F> void fill(F f) {
        for (int y = 0; y < record.height; ++y)
            for (int x = 0; x < record.width; ++x)
                for (int k = 0; k < record.channels; ++k) set(x, y, k, f(x, y, k));
    }
};
