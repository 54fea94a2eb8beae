// The BMP writer: uncompressed bottom-up bitmaps of 8, 24 or 32 bits per pixel.
#pragma once

#include "ezImage/grfmt_base.h"

class BmpEncoder : public BaseImageEncoder {
  public:
    BmpEncoder() : BaseImageEncoder("Windows bitmap (*.bmp;*.dib)") {}
    // 16-bit images are written as their high bytes.
    bool write(const _ezImage* image) override;
    std::unique_ptr<BaseImageEncoder> newEncoder() const override {
        return std::make_unique<BmpEncoder>();
    }
};
