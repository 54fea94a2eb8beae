// The TIFF writer: baseline little-endian TIFF, uncompressed strips.
#pragma once

#include "ezImage/grfmt_base.h"

class TiffEncoder : public BaseImageEncoder {
  public:
    TiffEncoder() : BaseImageEncoder("TIFF Files (*.tiff;*.tif)") {}
    bool isFormatSupported(int depth) const override { return depth == 8 || depth == 16; }
    bool write(const _ezImage* image) override;
    std::unique_ptr<BaseImageEncoder> newEncoder() const override {
        return std::make_unique<TiffEncoder>();
    }
    // Appends one directory entry.
    static void writeTag(WBaseStream& stream, int tag, int type, uint32_t count, uint32_t value);
};
