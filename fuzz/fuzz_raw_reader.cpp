// libFuzzer entry: the RAW reader on arbitrary bytes must refuse them or
// read them into an image made to the header's measures, never reading or
// writing outside a buffer.
#include <cstddef>
#include <cstdint>

#include "ezImage/grfmt_raw.h"
#include "processing/image_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RawDecoder decoder;
    decoder.setSource(data, size);
    RBaseStream stream;
    if (!decoder.readHeader(stream)) return 0;
    ImagePtr image(ezCreateImage(decoder.width(), decoder.height(), decoder.depth(),
                                 decoder.channels(), decoder.dataOffset(), 1));
    if (image) decoder.readData(image.get(), stream);
    return 0;
}
