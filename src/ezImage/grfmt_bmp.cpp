// The BMP writer: uncompressed bottom-up bitmaps of 8, 24 or 32 bits per pixel.
#include "ezImage/grfmt_bmp.h"

#include <cstring>
#include <vector>

namespace {

using RowFn = void (*)(const unsigned char* source, unsigned char* row, int width);

// One file row: BMP stores colour pixels blue first, so samples 2, 1, 0 are
// written in that order (and sample 3 of a four-channel pixel last); 16-bit
// samples give their high byte.
template <int Ch, int Bps>
void bmpRow(const unsigned char* source, unsigned char* row, int width) {
    constexpr int hi = Bps - 1;
    for (int x = 0; x < width; ++x, source += Ch * Bps, row += Ch) {
        if constexpr (Ch == 1) {
            row[0] = source[hi];
        } else {
            row[0] = source[2 * Bps + hi];
            row[1] = source[1 * Bps + hi];
            row[2] = source[hi];
            if constexpr (Ch == 4) row[3] = source[3 * Bps + hi];
        }
    }
}

RowFn bmpRowFor(int channels, int bytesPerSample) {
    const bool wide = bytesPerSample == 2;
    switch (channels) {
        case 1:
            return wide ? bmpRow<1, 2> : bmpRow<1, 1>;
        case 3:
            return wide ? bmpRow<3, 2> : bmpRow<3, 1>;
        default:
            return wide ? bmpRow<4, 2> : bmpRow<4, 1>;
    }
}

}  // namespace

bool BmpEncoder::write(const _ezImage* image) {
    PixelLayout layout;
    if (!pixelLayout(image, &layout)) return false;
    const int64_t rowSize = static_cast<int64_t>(layout.channels) * layout.width;
    const int64_t padded = (rowSize + 3) & ~int64_t{3};
    const int headerSize = layout.channels == 1 ? 54 + 1024 : 54;
    const int64_t fileSize = padded * layout.height + headerSize;
    if (fileSize > 0xffffffff) return false;  // the size field is 32 bits

    WBaseStream stream;
    if (!stream.open(m_filename.c_str())) return false;
    stream.putBytes("BM", 2);
    stream.putDWord(static_cast<uint32_t>(fileSize));
    stream.putDWord(0);
    stream.putDWord(headerSize);
    stream.putDWord(40);
    stream.putDWord(layout.width);
    stream.putDWord(layout.height);  // positive: bottom-up
    stream.putWord(1);
    stream.putWord(8 * layout.channels);
    for (int i = 0; i < 6; ++i) stream.putDWord(0);  // compression, sizes, resolutions, colours
    if (layout.channels == 1) {
        for (int i = 0; i < 256; ++i) stream.putDWord(static_cast<uint32_t>(i * 0x010101));
    }

    const RowFn pack = bmpRowFor(layout.channels, layout.bytesPerSample);
    std::vector<unsigned char> row(static_cast<size_t>(padded), 0);  // padding stays zero
    for (int y = layout.height - 1; y >= 0; --y) {
        pack(layout.data + static_cast<size_t>(y) * layout.stride, row.data(), layout.width);
        stream.putBytes(row.data(), padded);
    }
    return stream.close();
}
