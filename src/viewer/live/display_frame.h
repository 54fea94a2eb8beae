// The display image of a finished frame: its pixels, their histogram and the
// 8-bit Qt image the window shows.
#pragma once

#include <QImage>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace viewer {

// `channels` (1 or 3) samples per pixel of `depth` bits (16-bit ones in host
// order, shown by their high byte), rows without gaps. The raw frame it was
// made from, when known, is an image record of at most `rawCapacity` bytes.
// `owner`, when set, is the buffer the pixels lie in: holding it keeps them,
// so the picture can be the pixels themselves rather than a copy.
struct DisplayFrame {
    int width = 0;
    int height = 0;
    int channels = 0;
    const unsigned char* pixels = nullptr;
    int depth = 8;
    const unsigned char* raw = nullptr;
    size_t rawCapacity = 0;
    std::shared_ptr<const unsigned char[]> owner;
};

// Reads the image record at the start of `image` (`capacity` bytes). Nothing
// when the record is not a finished image whose pixels fit in the buffer.
std::optional<DisplayFrame> displayPixels(const unsigned char* image, size_t capacity);

// The 8-bit samples of a frame, rows without gaps: its own pixels at 8 bits,
// else the high bytes written to `scratch`.
const unsigned char* eightBitPixels(const DisplayFrame& frame, std::vector<unsigned char>& scratch);

// Sample counts per level; one channel uses bins[0] only.
struct Histogram {
    int channels = 0;
    std::array<std::array<uint32_t, 256>, 3> bins{};
};

// Histogram of an even sample of about 256 K pixels of the frame.
void histogramOf(const DisplayFrame& frame, Histogram& out);

// Display images used in turn: an image is reused once nobody else holds it,
// so a steady stream allocates only when the size or channel count changes.
class ImagePool {
  public:
    // The frame as an 8-bit image (Grayscale8 or RGB888): its own pixels
    // where it has an owner and 8-bit rows Qt can address, else a copy.
    QImage pictureOf(const DisplayFrame& frame);
    // An image of this size and format whose pixels `fill` writes (before
    // anybody else holds it, so writing never copies it).
    QImage make(QSize size, QImage::Format format, const std::function<void(QImage&)>& fill);

  private:
    std::array<QImage, 3> images;
};

}  // namespace viewer
