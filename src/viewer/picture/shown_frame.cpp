// A frame as the window holds it once shown.
#include "viewer/picture/shown_frame.h"

#include <cstring>

#include "ezcam.h"

namespace viewer {

int SampleGrid::at(QPoint p, int channel) const {
    const size_t i = (size_t(p.y()) * width + p.x()) * channels + channel;
    if (depth == 8) return bytes[i];
    uint16_t v;
    std::memcpy(&v, bytes.data() + 2 * i, 2);
    return v;
}

namespace {

// The raw frame's samples, when its record is a raw frame that fits.
bool copyRaw(const DisplayFrame& frame, int bayer, SampleGrid& out) {
    _ezImage record;
    if (!frame.raw || frame.rawCapacity < sizeof record) return false;
    std::memcpy(&record, frame.raw, sizeof record);
    const size_t bytes = record.depth / 8;
    const size_t row = size_t(record.width) * bytes;
    if (std::memcmp(record.signature, "KVEZ", 4) != 0 || record.channels != 1 ||
        (record.depth != 8 && record.depth != 16) || record.header_size < sizeof record ||
        record.stride < row || record.header_size > frame.rawCapacity ||
        size_t(record.stride) * record.height > frame.rawCapacity - record.header_size)
        return false;
    out.width = record.width;
    out.height = record.height;
    out.channels = 1;
    out.depth = record.depth;
    out.bayer = bayer;
    out.bytes.resize(row * record.height);
    const unsigned char* from = frame.raw + record.header_size;
    for (int y = 0; y < record.height; ++y)
        std::memcpy(out.bytes.data() + y * row, from + size_t(y) * record.stride, row);
    return true;
}

}  // namespace

std::shared_ptr<ShownFrame> FrameKeeper::keep(const DisplayFrame& frame,
                                              const FrameSettings& settings) {
    auto shown = std::make_shared<ShownFrame>();
    shown->picture = pictures.pictureOf(frame);
    if (shown->picture.isNull()) return nullptr;
    shown->depth = frame.depth;
    histogramOf(frame, shown->histogram);
    shown->focus = focus.measure(shown->picture);
    if (frame.depth == 16) {
        std::shared_ptr<SampleGrid> deep = deeps.next();
        deep->width = frame.width;
        deep->height = frame.height;
        deep->channels = frame.channels;
        deep->depth = 16;
        deep->bytes.assign(frame.pixels,
                           frame.pixels + size_t(frame.width) * frame.height * frame.channels * 2);
        shown->deep = std::move(deep);
    }
    if (frame.raw) {
        std::shared_ptr<SampleGrid> raw = raws.next();
        if (copyRaw(frame, settings.bayer, *raw)) {
            shown->map = FrameMap::of(shown->picture.size(), QSize(raw->width, raw->height),
                                      settings.rotate, settings.flip);
            if (shown->map) shown->raw = std::move(raw);
        }
    }
    return shown;
}

}  // namespace viewer
