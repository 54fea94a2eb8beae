// The raw calibration's row loop and hot-pixel repair.
#include "calibration/raw_tables.h"

#include <algorithm>
#include <cstring>

namespace {

// One row: a multiply-add per sample from row pointers, clipped and
// rounded. Blocks of a fixed count let the compiler use whole vectors
// without knowing the row's length.
template <typename T>
void calibrateRow(const T* __restrict in, T* __restrict out, const float* __restrict gain,
                  const float* __restrict offset, int n, float top) {
    constexpr int kBlock = 16;
    int i = 0;
    for (; i + kBlock <= n; i += kBlock)
        for (int j = i; j < i + kBlock; ++j) {
            const float v = std::min(std::max(static_cast<float>(in[j]) * gain[j] + offset[j], 0.0f), top);
            out[j] = static_cast<T>(static_cast<int>(v + 0.5f));
        }
    for (; i < n; ++i) {
        const float v = std::min(std::max(static_cast<float>(in[i]) * gain[i] + offset[i], 0.0f), top);
        out[i] = static_cast<T>(static_cast<int>(v + 0.5f));
    }
}

template <typename T>
void repairHot(T* samples, const std::vector<uint32_t>& hot, int width, int step) {
    for (uint32_t at : hot) {
        const int x = static_cast<int>(at % static_cast<uint32_t>(width));
        const bool left = x >= step, right = x + step < width;
        if (left && right)
            samples[at] = static_cast<T>((samples[at - step] + samples[at + step] + 1) / 2);
        else if (left || right)
            samples[at] = samples[left ? at - step : at + step];
    }
}

}  // namespace

void RawCalibration::rows(const _ezImage* raw, unsigned char* out, int first, int count) const {
    const size_t w = static_cast<size_t>(width);
    for (int y = first; y < first + count; ++y) {
        const unsigned char* in = raw->data + static_cast<size_t>(y) * raw->stride;
        const size_t at = static_cast<size_t>(y) * w;
        if (depth == 16)
            calibrateRow(reinterpret_cast<const uint16_t*>(in), reinterpret_cast<uint16_t*>(out) + at,
                         gain.data() + at, offset.data() + at, width, 65535.0f);
        else
            calibrateRow(in, out + at, gain.data() + at, offset.data() + at, width, 255.0f);
    }
}

void RawCalibration::repair(unsigned char* out) const {
    if (depth == 16)
        repairHot(reinterpret_cast<uint16_t*>(out), hot, width, step);
    else
        repairHot(out, hot, width, step);
}
