// The display image of a finished frame.
#include "viewer/live/display_frame.h"

#include <atomic>
#include <cstring>

#include "ezcam.h"

namespace viewer {

std::optional<DisplayFrame> displayPixels(const unsigned char* image, size_t capacity) {
    _ezImage record;
    if (!image || capacity < sizeof record) return std::nullopt;
    std::memcpy(&record, image, sizeof record);
    if (std::memcmp(record.signature, "KVEZ", 4) != 0) return std::nullopt;
    if (record.channels != 1 && record.channels != 3) return std::nullopt;
    if (record.depth != 8 && record.depth != 16) return std::nullopt;
    if (record.width == 0 || record.height == 0 || record.header_size < sizeof record)
        return std::nullopt;
    const size_t n = size_t{record.width} * record.height * record.channels;
    if (record.header_size > capacity || n * (record.depth / 8) > capacity - record.header_size)
        return std::nullopt;
    DisplayFrame frame;
    frame.width = record.width;
    frame.height = record.height;
    frame.channels = record.channels;
    frame.pixels = image + record.header_size;
    frame.depth = record.depth;
    return frame;
}

namespace {

// One row's 8-bit samples from `count` samples of `Bytes` bytes each.
template <int Bytes>
void highBytes(const unsigned char* __restrict from, unsigned char* __restrict to, size_t count) {
    if constexpr (Bytes == 1) {
        std::memcpy(to, from, count);
    } else {
        for (size_t i = 0; i < count; ++i) to[i] = from[2 * i + 1];
    }
}

template <int Bytes>
void histogramOf(const DisplayFrame& frame, Histogram& out) {
    constexpr int kHigh = Bytes - 1;
    const int rowStep = frame.height > 512 ? frame.height / 512 : 1;
    const int columnStep = frame.width > 512 ? frame.width / 512 : 1;
    const size_t rowBytes = size_t(frame.width) * frame.channels * Bytes;
    const size_t pixelStep = size_t(columnStep) * frame.channels * Bytes;
    for (int y = 0; y < frame.height; y += rowStep) {
        const unsigned char* p = frame.pixels + y * rowBytes + kHigh;
        const unsigned char* end = p + rowBytes - kHigh;
        if (frame.channels == 3) {
            for (; p < end; p += pixelStep) {
                ++out.bins[0][p[0]];
                ++out.bins[1][p[Bytes]];
                ++out.bins[2][p[2 * Bytes]];
            }
        } else {
            for (; p < end; p += pixelStep) ++out.bins[0][*p];
        }
    }
}

}  // namespace

const unsigned char* eightBitPixels(const DisplayFrame& frame,
                                    std::vector<unsigned char>& scratch) {
    if (frame.depth != 16) return frame.pixels;
    const size_t n = size_t(frame.width) * frame.height * frame.channels;
    scratch.resize(n);
    highBytes<2>(frame.pixels, scratch.data(), n);
    return scratch.data();
}

void histogramOf(const DisplayFrame& frame, Histogram& out) {
    out.channels = frame.channels;
    for (auto& bins : out.bins) bins.fill(0);
    if (frame.depth == 16)
        histogramOf<2>(frame, out);
    else
        histogramOf<1>(frame, out);
}

QImage ImagePool::pictureOf(const DisplayFrame& frame) {
    const QImage::Format format =
        frame.channels == 1 ? QImage::Format_Grayscale8 : QImage::Format_RGB888;
    const size_t samples = size_t(frame.width) * frame.channels;
    const int bytes = frame.depth == 16 ? 2 : 1;
    // Qt addresses rows of whole 32-bit words from a word-aligned start. The
    // image is read-only: whoever would draw on it gets a copy of their own.
    if (frame.owner && bytes == 1 && samples % 4 == 0 &&
        reinterpret_cast<uintptr_t>(frame.pixels) % 4 == 0) {
        using Owner = std::shared_ptr<const unsigned char[]>;
        return QImage(
            frame.pixels, frame.width, frame.height, qsizetype(samples), format,
            [](void* owner) { delete static_cast<Owner*>(owner); }, new Owner(frame.owner));
    }
    return make(QSize(frame.width, frame.height), format, [&](QImage& image) {
        for (int y = 0; y < frame.height; ++y) {
            const unsigned char* row = frame.pixels + y * samples * bytes;
            if (bytes == 2)
                highBytes<2>(row, image.scanLine(y), samples);
            else
                highBytes<1>(row, image.scanLine(y), samples);
        }
    });
}

QImage ImagePool::make(QSize size, QImage::Format format,
                       const std::function<void(QImage&)>& fill) {
    QImage* slot = nullptr;
    for (QImage& image : images)
        if (image.isDetached() && image.size() == size && image.format() == format) slot = &image;
    if (!slot)
        for (QImage& image : images)
            if (image.isNull() || image.isDetached()) slot = &image;
    if (!slot) slot = &images[0];  // every image is still shown: let this one go
    if (slot->size() != size || slot->format() != format || !slot->isDetached())
        *slot = QImage(size, format);
    if (slot->isNull()) return {};
    // The last holder's reads happen before this thread writes.
    std::atomic_thread_fence(std::memory_order_acquire);
    fill(*slot);
    return *slot;
}

}  // namespace viewer
