// The display image of a finished frame: its 8-bit pixels, their histogram and
// the Qt image the window shows.
#pragma once

#include <QImage>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace viewer {

// 8-bit samples, `channels` (1 or 3) per pixel, rows without gaps.
struct DisplayFrame {
    int width = 0;
    int height = 0;
    int channels = 0;
    const unsigned char* pixels = nullptr;
};

// Reads the image record at the start of `image` (`capacity` bytes) and makes
// its samples 8-bit in place (16-bit samples keep their high byte). Nothing
// when the record is not a finished image whose pixels fit in the buffer.
std::optional<DisplayFrame> displayPixels(unsigned char* image, size_t capacity);

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
    QImage copyOf(const DisplayFrame& frame);

  private:
    std::array<QImage, 3> images;
};

}  // namespace viewer
