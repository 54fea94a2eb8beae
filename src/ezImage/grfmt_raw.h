// The RAW format: the image record's header followed by the pixel rows.
#pragma once

#include "ezImage/grfmt_base.h"

// Size of the image record at the head of every RAW file.
constexpr int kRawRecordBytes = 56;

class RawEncoder : public BaseImageEncoder {
  public:
    RawEncoder() : BaseImageEncoder("(*.raw)") {}
    bool write(const _ezImage* image) override;
    std::unique_ptr<BaseImageEncoder> newEncoder() const override {
        return std::make_unique<RawEncoder>();
    }
};

// Reads one-channel 8- or 16-bit RAW files; anything truncated, inconsistent
// or of another kind is refused.
class RawDecoder : public BaseImageDecoder {
  public:
    RawDecoder() { m_signature = "KVEZ"; }
    bool readHeader(RBaseStream& stream) override;
    bool readData(_ezImage* image, RBaseStream& stream) override;
    std::unique_ptr<BaseImageDecoder> newDecoder() const override {
        return std::make_unique<RawDecoder>();
    }

  private:
    void refuse(RBaseStream& stream);

    int m_fileStride = 0;  // row distance in the file
};
