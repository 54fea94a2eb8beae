// The PNG writer, on libpng.
#pragma once

#include "ezImage/grfmt_base.h"

class PngEncoder : public BaseImageEncoder {
  public:
    PngEncoder() : BaseImageEncoder("Portable Network Graphics files (*.png)") {}
    bool isFormatSupported(int depth) const override { return depth == 8 || depth == 16; }
    // Grey, RGB or RGBA at the image's own depth (8 or 16 bits).
    bool write(const _ezImage* image) override;
    std::unique_ptr<BaseImageEncoder> newEncoder() const override {
        return std::make_unique<PngEncoder>();
    }
};
