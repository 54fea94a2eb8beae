// The RAW format: the image record's header followed by the pixel rows.
#include "ezImage/grfmt_raw.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "processing/image_record.h"

bool RawEncoder::write(const _ezImage* image) {
    PixelLayout layout;
    // A header shorter than the record would make the file unreadable.
    if (!pixelLayout(image, &layout) || image->header_size < kRawRecordBytes) return false;
    WBaseStream stream;
    if (!stream.open(m_filename.c_str())) return false;

    unsigned char record[kRawRecordBytes];
    std::memcpy(record, image, sizeof record);
    // The pointer fields mean nothing in a file; do not leak addresses into it.
    std::memset(record + offsetof(_ezImage, data), 0,
                offsetof(_ezImage, decoded) - offsetof(_ezImage, data));
    stream.putBytes(record, sizeof record);

    // The rest of the header area is only known to exist when the pixels
    // follow it in the same buffer; otherwise it is written as zeros.
    const int rest = image->header_size - kRawRecordBytes;
    const auto* behind = reinterpret_cast<const unsigned char*>(image) + kRawRecordBytes;
    if (reinterpret_cast<uintptr_t>(layout.data) ==
        reinterpret_cast<uintptr_t>(image) + image->header_size) {
        stream.putBytes(behind, rest);
    } else {
        for (int i = 0; i < rest; ++i) stream.putByte(0);
    }
    stream.putBytes(layout.data, static_cast<int64_t>(layout.stride) * layout.height);
    return stream.close();
}

void RawDecoder::refuse(RBaseStream& stream) {
    m_width = m_height = m_depth = m_channels = m_dataOffset = -1;
    stream.close();
}

bool RawDecoder::readHeader(RBaseStream& stream) {
    m_dataOffset = -1;
    if (!openSource(stream)) {
        refuse(stream);
        return false;
    }
    // The record check of every buffer call, the file standing for the
    // buffer: whole signature, header at least the record, pixels inside.
    unsigned char head[kRawRecordBytes];
    _ezImage record;
    if (stream.getBytes(head, sizeof head) != static_cast<int64_t>(sizeof head) ||
        stream.size() < 0 || !ezReadRecord(head, &record, static_cast<size_t>(stream.size()))) {
        refuse(stream);
        return false;
    }
    m_width = record.width;
    m_height = record.height;
    m_depth = record.depth;
    m_channels = record.channels;
    m_fileStride = record.stride;
    const int rowBytes = m_width * (m_depth / 8);
    // The file must hold every row the header promises: a truncated file is
    // refused here, before anyone allocates an image for it.
    const int64_t needed = record.header_size + int64_t{m_fileStride} * (m_height - 1) + rowBytes;
    if (m_width <= 0 || m_height <= 0 || m_channels != 1 || m_fileStride < rowBytes ||
        stream.size() < needed) {
        refuse(stream);
        return false;
    }
    m_dataOffset = record.header_size;
    return true;
}

bool RawDecoder::readData(_ezImage* image, RBaseStream& stream) {
    if (m_dataOffset < 0 || !stream.isOpened() || !image || !image->data) return false;
    // Only an image made to this header's measures can take the rows.
    const int rowBytes = m_width * (m_depth / 8);
    if (image->width != m_width || image->height != m_height || image->depth != m_depth ||
        image->channels != m_channels || image->stride < rowBytes)
        return false;
    if (!stream.setPos(m_dataOffset)) return false;
    for (int y = 0; y < m_height; ++y) {
        unsigned char* row = image->data + static_cast<size_t>(y) * image->stride;
        if (stream.getBytes(row, rowBytes) != rowBytes) return false;
        stream.skip(m_fileStride - rowBytes);
    }
    return true;
}
