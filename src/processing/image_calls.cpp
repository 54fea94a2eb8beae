// Buffer utilities of the C call surface that need no camera. Their buffers
// begin with an image record (ezReadRecord checks and copies it out; it is
// copied back with memcpy because a caller's buffer need not be aligned).
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "ezcam.h"
#include "guarded.h"
#include "processing/bayer.h"
#include "processing/corrections.h"
#include "processing/geometry.h"
#include "processing/image_record.h"
#include "processing/measure.h"
#include "processing/pixels.h"
#include "processing/tone.h"

namespace {

// Calls that follow the record's stored pixel pointer accept it only where
// the buffer's own layout puts the pixels: a record copied into another buffer,
// or read back from a file, carries a pointer into memory that is not its own.
bool pixelsInBuffer(const _ezImage& record, const unsigned char* buffer) {
    return record.data == buffer + record.header_size && pixels::usable(&record);
}

}  // namespace

extern "C" {

const char* BayerPatternName(int bayer) {
    return bayer::patternName(bayer);
}

int ResizeImage(unsigned char* source, unsigned char* destination, int width, int height) {
    return ezcam::guarded(EZ_EIO, [&]() -> int {
        _ezImage src;
        if (!destination || !ezReadRecord(source, &src))
            return EZ_ENOTSUP;
        if (width <= 0 || height <= 0 || width > 0xffff || height > 0xffff) return EZ_ERANGE;
        if ((src.depth != 8 && src.depth != 16) || src.channels == 0) return EZ_ERANGE;
        const size_t pixelBytes = static_cast<size_t>(src.channels) * (src.depth / 8);
        // Rows wider than a 16-bit stride can describe would be misread.
        if (pixels::rowBytes(&src) > 0xffff || width * pixelBytes > 0xffff) return EZ_ERANGE;

        src.data = source + src.header_size;
        std::memcpy(source + offsetof(_ezImage, data), &src.data, sizeof src.data);
        src.stride = static_cast<uint16_t>(pixels::rowBytes(&src));

        _ezImage dst;
        std::memcpy(&dst, destination, sizeof dst);  // keeps its camera fields and means
        ezInitImageHeader(&dst, width, height, src.channels, src.depth, src.header_size,
                          destination + src.header_size, src.resolution, src.decoded);
        __resize(&src, &dst);
        std::memcpy(destination, &dst, sizeof dst);
        return EZ_OK;
    });
}

int CalcAverage(unsigned char* image) {
    return ezcam::guarded(EZ_EIO, [&]() -> int {
        _ezImage record;
        if (!ezReadRecord(image, &record) || !pixelsInBuffer(record, image)) return EZ_ENOTSUP;
        __calc_avg(&record, 0);
        std::memcpy(image + offsetof(_ezImage, channel_mean), record.channel_mean,
                    sizeof record.channel_mean);
        return EZ_OK;
    });
}

int GetPointIntensity(int x, int y, unsigned char* image) {
    return ezcam::guarded(-1, [&]() -> int {
        _ezImage record;
        if (!ezReadRecord(image, &record)) return -1;
        if (x < 0 || y < 0 || x >= record.width || y >= record.height) return -1;
        if (record.depth != 8 && record.depth != 16) return -1;
        if (record.channels == 0) return -1;  // no sample to read
        // Pixels follow the header, rows packed.
        record.data = image + record.header_size;
        if (pixels::rowBytes(&record) > 0xffff) return -1;
        record.stride = static_cast<uint16_t>(pixels::rowBytes(&record));
        return __pt_gray(x, y, &record);
    });
}

int GetImageIntensity(unsigned char* image, int x, int y, int width, int height, float* mean,
                      float* m0, float* m1, float* m2, float* m3) {
    return ezcam::guarded(EZ_EIO, [&]() -> int {
        _ezImage record;
        if (!ezReadRecord(image, &record) || record.decoded != 0) return EZ_ENOTSUP;
        if (x < 0 || y < 0) return EZ_ERANGE;
        x &= ~1;  // keep the Bayer phase of the region
        y &= ~1;
        if (x > record.width || y > record.height || width <= 3 || height <= 3) return EZ_ERANGE;
        if (record.depth != 8 && record.depth != 16) return EZ_ERANGE;
        if (record.channels == 0) return EZ_ENOTSUP;
        const size_t pitch = pixels::rowBytes(&record);
        if (pitch > 0xffff) return EZ_ERANGE;

        // The region, w and h cut to multiples of 4 and to the frame, measured in
        // place: it is only read.
        const int w = std::min(4 * (width / 4), record.width - x);
        const int h = std::min(4 * (height / 4), record.height - y);
        _ezImage region = record;
        region.data = image + record.header_size + static_cast<size_t>(y) * pitch +
                      static_cast<size_t>(x) * record.channels * (record.depth / 8);
        region.width = static_cast<uint16_t>(w);
        region.height = static_cast<uint16_t>(h);
        region.stride = static_cast<uint16_t>(pitch);
        return __image_intensity(&region, mean, m0, m1, m2, m3);
    });
}

int ShiftOperation(unsigned char* image, int shift) {
    return ezcam::guarded(EZ_EIO, [&]() -> int {
        _ezImage record;
        if (!ezReadRecord(image, &record) || !pixelsInBuffer(record, image)) return EZ_ENOTSUP;
        return __shift_operation(&record, shift);
    });
}

}  // extern "C"
