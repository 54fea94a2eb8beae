// The JPEG writer, on libjpeg's 6b interface.
#pragma once

#include "ezImage/grfmt_base.h"

class JpegEncoder : public BaseImageEncoder {
  public:
    JpegEncoder() : BaseImageEncoder("JPEG files (*.jpeg;*.jpg;*.jpe)") {}
    // Baseline, quality 95; grey for one channel, else RGB of the first three
    // samples; 16-bit images give their high bytes.
    bool write(const _ezImage* image) override;
    std::unique_ptr<BaseImageEncoder> newEncoder() const override {
        return std::make_unique<JpegEncoder>();
    }
};
