// The display image of a finished frame.
#include "viewer/display_frame.h"

#include <cstring>

#include "ezcam.h"

namespace viewer {

std::optional<DisplayFrame> displayPixels(unsigned char* image, size_t capacity) {
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
    unsigned char* p = image + record.header_size;
    if (record.depth == 16)
        for (size_t i = 0; i < n; ++i) p[i] = p[2 * i + 1];
    return DisplayFrame{record.width, record.height, record.channels, p};
}

void histogramOf(const DisplayFrame& frame, Histogram& out) {
    out.channels = frame.channels;
    for (auto& bins : out.bins) bins.fill(0);
    const int rowStep = frame.height > 512 ? frame.height / 512 : 1;
    const int columnStep = frame.width > 512 ? frame.width / 512 : 1;
    const size_t rowBytes = size_t(frame.width) * frame.channels;
    const size_t pixelStep = size_t(columnStep) * frame.channels;
    for (int y = 0; y < frame.height; y += rowStep) {
        const unsigned char* p = frame.pixels + y * rowBytes;
        const unsigned char* end = p + rowBytes;
        if (frame.channels == 3) {
            for (; p < end; p += pixelStep) {
                ++out.bins[0][p[0]];
                ++out.bins[1][p[1]];
                ++out.bins[2][p[2]];
            }
        } else {
            for (; p < end; p += pixelStep) ++out.bins[0][*p];
        }
    }
}

QImage ImagePool::copyOf(const DisplayFrame& frame) {
    const QImage::Format format =
        frame.channels == 1 ? QImage::Format_Grayscale8 : QImage::Format_RGB888;
    const QSize size(frame.width, frame.height);
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
    const size_t rowBytes = size_t(frame.width) * frame.channels;
    for (int y = 0; y < frame.height; ++y)
        std::memcpy(slot->scanLine(y), frame.pixels + y * rowBytes, rowBytes);
    return *slot;
}

}  // namespace viewer
