// libFuzzer entry: the information memory and the version request against
// a device that answers anything: any status, any claimed byte count, any
// bytes. The caller's text buffer is exactly `length` bytes long, as the
// call surface documents, and must never be read or written outside; a read
// always leaves a terminated text in it.
//
// Input: operation, length (2, signed), then per control request: status,
// claimed byte count, n, n reply bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_device.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The memory requests are the same on every model: one camera will do.
    static fuzzing::Camera camera(fuzzing::products().front(), 0x0100);
    fuzzing::Input in(data, size);
    const uint8_t operation = in.byte();
    const int length = static_cast<int16_t>(in.word());
    camera.device->answer = [&in](EZURB& urb) {
        const uint32_t status = fuzzing::status(in.byte());
        urb.lengthDone = in.byte();
        const auto [bytes, count] = in.take(in.byte());
        if ((urb.requestType & 0x80) && urb.data)
            std::memcpy(urb.data, bytes, std::min<size_t>(count, urb.length));
        return status;
    };

    CamBayer& c = *camera.object;
    std::vector<char> text(static_cast<size_t>(std::max(length, 0)));
    char* buffer = text.empty() ? nullptr : text.data();
    switch (operation % 3) {
        case 0:
            if (c._rmem_inf(buffer, length) == 0 && length > 0 &&
                std::memchr(buffer, 0, text.size()) == nullptr)
                __builtin_trap();  // no terminator inside the buffer
            break;
        case 1:
            for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>(i);
            c._wmem_inf(buffer, length);
            break;
        default: {
            int version = -1;
            const int result = c._versions(&version);
            if (result != 0 && version != 0) __builtin_trap();  // a failed request reports 0
            break;
        }
    }
    camera.device->answer = nullptr;
    return 0;
}
