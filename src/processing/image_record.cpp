// The image record: layout guards and the record operations.
#include "processing/image_record.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

// The record's layout is also the RAW file header: keep every offset fixed.
static_assert(sizeof(_ezImage) == 56);
static_assert(offsetof(_ezImage, signature) == 0);
static_assert(offsetof(_ezImage, width) == 4);
static_assert(offsetof(_ezImage, height) == 6);
static_assert(offsetof(_ezImage, depth) == 8);
static_assert(offsetof(_ezImage, channels) == 9);
static_assert(offsetof(_ezImage, bayer) == 10);
static_assert(offsetof(_ezImage, resolution) == 11);
static_assert(offsetof(_ezImage, header_size) == 12);
static_assert(offsetof(_ezImage, stride) == 14);
static_assert(offsetof(_ezImage, data) == 16);
static_assert(offsetof(_ezImage, extra) == 24);
static_assert(offsetof(_ezImage, decoded) == 32);
static_assert(offsetof(_ezImage, pixel_clock) == 33);
static_assert(offsetof(_ezImage, analog_gain) == 34);
static_assert(offsetof(_ezImage, black_level) == 36);
static_assert(offsetof(_ezImage, idproduct) == 38);
static_assert(offsetof(_ezImage, idvendor) == 40);
static_assert(offsetof(_ezImage, bcddevice) == 42);
static_assert(offsetof(_ezImage, reserved) == 44);
static_assert(offsetof(_ezImage, channel_mean) == 50);
static_assert(sizeof(__IMG_RECT) == 16);

namespace {
void fillHeader(_ezImage* image, int width, int height, int channels, int depth, int header_size,
                unsigned char* data, int resolution, int decoded) {
    std::memcpy(image->signature, "KVEZ", 4);
    image->width = static_cast<uint16_t>(width);
    image->height = static_cast<uint16_t>(height);
    image->depth = static_cast<uint8_t>(depth);
    image->channels = static_cast<uint8_t>(channels);
    image->resolution = static_cast<uint8_t>(resolution);
    image->header_size = static_cast<uint16_t>(header_size);
    image->stride = static_cast<uint16_t>(width * channels * depth / 8);
    image->data = data;
    image->extra = data ? data + static_cast<size_t>(image->stride) * image->height : nullptr;
    image->decoded = static_cast<uint8_t>(decoded);
}
}  // namespace

bool ezReadRecord(const unsigned char* buffer, _ezImage* record, size_t capacity) {
    static constexpr char kSignature[4] = {'K', 'V', 'E', 'Z'};
    if (!buffer || !record || capacity < sizeof(_ezImage)) return false;
    // Byte by byte: a buffer that is not a record may be shorter than one.
    for (size_t i = 0; i < sizeof kSignature; ++i)
        if (buffer[i] != static_cast<unsigned char>(kSignature[i])) return false;
    _ezImage head;
    std::memcpy(&head, buffer, sizeof head);
    if (head.header_size < sizeof(_ezImage) || head.header_size > capacity) return false;
    if (capacity != SIZE_MAX) {
        if (head.depth != 8 && head.depth != 16) return false;
        const uint64_t pixels =
            uint64_t{head.width} * head.height * head.channels * (head.depth / 8u);
        if (pixels > capacity - head.header_size) return false;
    }
    *record = head;
    return true;
}

void ezInitImageHeader(_ezImage* image, int width, int height, int channels, int depth,
                       int header_size, unsigned char* data, int resolution, int decoded) {
    if (!image) return;
    fillHeader(image, width, height, channels, depth, header_size, data, resolution, decoded);
}

_ezImage* ezCreateImage(int width, int height, int depth, int channels, int header_size,
                        int resolution) {
    if (width < 0 || height < 0 || depth <= 0 || channels <= 0) return nullptr;
    auto* image = static_cast<_ezImage*>(std::calloc(1, sizeof(_ezImage)));
    if (!image) return nullptr;
    const size_t pixels = static_cast<size_t>(width) * height * depth * channels / 8;
    auto* data = static_cast<unsigned char*>(std::malloc(pixels + kStatisticsBytes));
    if (!data) {
        std::free(image);
        return nullptr;
    }
    fillHeader(image, width, height, channels, depth, header_size, data, resolution, 0);
    return image;
}

void ezReleaseImage(_ezImage** image) {
    if (!image || !*image) return;
    std::free((*image)->data);
    std::free(*image);
    *image = nullptr;
}

void ezCopyImage(_ezImage* destination, const _ezImage* source) {
    if (!destination || !source) return;
    std::memcpy(destination->channel_mean, source->channel_mean, sizeof source->channel_mean);
    destination->bayer = source->bayer;
    if (destination->data && source->data)
        std::memcpy(destination->data, source->data,
                    static_cast<size_t>(source->height) * source->stride);
}
