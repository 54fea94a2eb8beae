// The TIFF writer: baseline little-endian TIFF, uncompressed strips.
#include "ezImage/grfmt_tiff.h"

#include <algorithm>

namespace {

enum TiffType { kShort = 3, kLong = 4 };
enum TiffTag {
    kImageWidth = 256,
    kImageLength = 257,
    kBitsPerSample = 258,
    kCompression = 259,
    kPhotometric = 262,
    kStripOffsets = 273,
    kSamplesPerPixel = 277,
    kRowsPerStrip = 278,
    kStripByteCounts = 279,
};
constexpr int kStripTarget = 8192;  // bytes per strip aimed at
constexpr int kHeaderBytes = 8;
constexpr int kDirectoryBytes = 2 + 9 * 12 + 4;

}  // namespace

void TiffEncoder::writeTag(WBaseStream& stream, int tag, int type, uint32_t count, uint32_t value) {
    stream.putWord(tag);
    stream.putWord(type);
    stream.putDWord(count);
    stream.putDWord(value);
}

bool TiffEncoder::write(const _ezImage* image) {
    PixelLayout layout;
    if (!pixelLayout(image, &layout)) return false;
    const int64_t rowBytes = static_cast<int64_t>(layout.rowBytes);
    const int height = layout.height;
    const int channels = layout.channels;
    const int depth = 8 * layout.bytesPerSample;
    const int rowsPerStrip =
        static_cast<int>(std::min<int64_t>(height, std::max<int64_t>(1, kStripTarget / rowBytes)));
    const int strips = (height + rowsPerStrip - 1) / rowsPerStrip;

    // Everything behind the strips has a known size, so the directory's
    // offset is known before the first byte is written: the header is final
    // at once and the file never needs reopening to patch it.
    const int64_t arraysAt = kHeaderBytes + rowBytes * height;
    const int64_t arraysBytes = strips == 2 ? 8 : strips >= 3 ? 6 * int64_t{strips} : 0;
    const int64_t bitsAt = arraysAt + arraysBytes;
    const int64_t directoryAt = bitsAt + (channels > 1 ? 2 * channels : 0);
    if (directoryAt + kDirectoryBytes > 0xffffffff) return false;  // offsets are 32 bits
    // A strip holds at most max(8192, one row) bytes and a row fits the
    // record's 16-bit stride, so each byte count fits a SHORT.
    auto stripBytes = [&](int k) {
        return static_cast<uint32_t>(std::min(rowsPerStrip, height - k * rowsPerStrip) * rowBytes);
    };
    auto stripAt = [&](int k) {
        return static_cast<uint32_t>(kHeaderBytes + int64_t{k} * rowsPerStrip * rowBytes);
    };

    WBaseStream stream;
    if (!stream.open(m_filename.c_str())) return false;
    stream.putBytes("II*", 4);  // with its terminating zero
    stream.putDWord(static_cast<uint32_t>(directoryAt));

    for (int y = 0; y < height; ++y)
        stream.putBytes(layout.data + static_cast<size_t>(y) * layout.stride, rowBytes);

    if (strips >= 2) {
        for (int k = 0; k < strips; ++k) stream.putDWord(stripAt(k));
    }
    if (strips >= 3) {
        for (int k = 0; k < strips; ++k) stream.putWord(static_cast<int>(stripBytes(k)));
    }
    if (channels > 1) {
        for (int c = 0; c < channels; ++c) stream.putWord(depth);
    }

    stream.putWord(9);
    writeTag(stream, kImageWidth, kLong, 1, layout.width);
    writeTag(stream, kImageLength, kLong, 1, height);
    writeTag(stream, kBitsPerSample, kShort, channels,
             channels == 1 ? depth : static_cast<uint32_t>(bitsAt));
    writeTag(stream, kCompression, kLong, 1, 1);
    writeTag(stream, kPhotometric, kShort, 1, channels == 1 ? 1 : 2);
    writeTag(stream, kStripOffsets, kLong, strips,
             strips == 1 ? stripAt(0) : static_cast<uint32_t>(arraysAt));
    writeTag(stream, kSamplesPerPixel, kShort, 1, channels);
    writeTag(stream, kRowsPerStrip, kLong, 1, rowsPerStrip);
    if (strips == 1) {
        writeTag(stream, kStripByteCounts, kLong, 1, stripBytes(0));
    } else if (strips == 2) {
        writeTag(stream, kStripByteCounts, kShort, 2, stripBytes(0) | stripBytes(1) << 16);
    } else {
        writeTag(stream, kStripByteCounts, kShort, strips,
                 static_cast<uint32_t>(arraysAt + 4 * int64_t{strips}));
    }
    stream.putDWord(0);
    return stream.close();
}
