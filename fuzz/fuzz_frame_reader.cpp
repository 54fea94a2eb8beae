// libFuzzer entry: the frame reader every model runs, fed arbitrary
// transfers through a fake transport. The input picks the camera (any
// product of the catalogue at any device release, so every frame layout),
// its mode, and up to three transfers: each one's length against what the
// reader asked, its status, its first and last bytes (markers, headers,
// signatures, trailers) and ten-byte stamps at chosen packet starts (a run
// into the next frame). No transfer may make the reader touch memory
// outside the caller's buffer, and a frame it hands out must be described
// by a record that lies inside that buffer.
//
// Input: product, release (2), resolution, options, [buffer shortfall (2)],
// [region x, y, width, height (2 each)], then per transfer: length change
// (2, signed), status, n, n first bytes, m, m last bytes, k, k stamps of
// packet index (2) and byte value.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>

#include "fuzz_device.h"
#include "processing/image_record.h"

namespace {

enum Option : uint8_t {
    kDepth16 = 1,
    kRegionRequested = 2,  // asked for: programmed or cut out by the reader
    kRegionActive = 4,     // already programmed: frames of the region's size
    kAutoExposure = 8,
    kShortBuffer = 16,
    kDefectSearch = 32,
};
constexpr int kPacket = 512;

// One transfer as the input describes it.
struct Transfer {
    int change = 0;  // received minus the length asked for
    uint32_t status = 0;
    std::pair<const uint8_t*, size_t> first, last, stamps;

    explicit Transfer(fuzzing::Input& in) {
        change = static_cast<int16_t>(in.word());
        status = fuzzing::status(in.byte());
        first = in.take(in.byte());
        last = in.take(in.byte());
        stamps = in.take(3 * size_t{in.byte()});
    }

    // What the device does with a read of `length` bytes into the caller's
    // zeroed buffer: writes its bytes within `length + change`, claims that.
    uint32_t deliver(unsigned char* buffer, int length, int* received) const {
        const long claimed = static_cast<long>(length) + change;
        const size_t written = static_cast<size_t>(std::clamp<long>(claimed, 0, length));
        std::memcpy(buffer, first.first, std::min(first.second, written));
        const size_t tail = std::min(last.second, written);
        std::memcpy(buffer + written - tail, last.first + last.second - tail, tail);
        for (size_t i = 0; i + 3 <= stamps.second; i += 3) {
            const size_t at = (stamps.first[i] | size_t{stamps.first[i + 1]} << 8) * kPacket;
            if (at < written) std::memset(buffer + at, stamps.first[i + 2], std::min<size_t>(10, written - at));
        }
        *received = static_cast<int>(std::clamp<long>(claimed, INT32_MIN, INT32_MAX));
        return status;
    }
};

// The caller's buffer: exactly the size asked for, so that any access past
// it is caught, and all zeros at the start of every run, so that no run sees
// what an earlier one left. Kept from run to run while the size stays:
// fresh pages for every run of a large frame cost more than clearing them.
unsigned char* zeroedBuffer(size_t size) {
    static std::unique_ptr<unsigned char[]> block;
    static size_t held = 0;
    if (size != held) {
        block.reset(new unsigned char[size]);
        held = size;
    }
    std::memset(block.get(), 0, size);
    return block.get();
}

// Cameras are made once per product and release (making one builds its
// lookup tables, which costs more than reading a small frame) and put back
// into a known state before every run: the settings a run can change.
CamBayer& camera(size_t product, uint16_t release, std::shared_ptr<fuzzing::Device>& device) {
    static std::map<std::pair<size_t, uint16_t>, fuzzing::Camera> cameras;
    fuzzing::Camera& made =
        cameras.try_emplace({product, release}, fuzzing::products()[product], release)
            .first->second;
    CamBayer& c = *made.object;
    device = made.device;
    c._set_autoexposure(false);
    c.aeState = 0;
    c.roiRequested = c.roiActive = 0;
    c.resolutionPending = c.pixelClockPending = 0;
    c.defectCalcRequest = c.defectCorrectionOn = 0;
    c.defectCount = 0;
    c.blackFieldOn = c.fluoGuideOn = c.fluoGuideEnd = 0;
    c._set_raw_depth(8);
    c._default();
    c._set_exposure(10.0f);
    return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::Input in(data, size);
    const size_t product = in.byte() % fuzzing::products().size();
    const uint16_t release = in.word();
    std::shared_ptr<fuzzing::Device> device;
    CamBayer& c = camera(product, release, device);

    const int resolution = in.byte();
    const uint8_t options = in.byte();
    c._set_resolution(resolution % std::max(c._resolution_count(), 1), true);
    if (options & kDepth16) c._set_raw_depth(16);
    size_t bufferSize = static_cast<size_t>(std::max(c._body(), 0));
    if (options & kShortBuffer) bufferSize -= std::min<size_t>(in.word(), bufferSize);
    if (options & (kRegionRequested | kRegionActive)) {
        const int x = in.word(), y = in.word(), width = in.word(), height = in.word();
        c._set_roi(x, y, width, height);
        if (options & kRegionActive) c.roiRequested = 0, c.roiActive = 1;
    }
    c._set_autoexposure(options & kAutoExposure);
    if (options & kDefectSearch) c._calc_defect_correction();
    if (bufferSize == 0) return 0;

    for (int read = 0; read < 3 && in.left() > 0; ++read) {
        const Transfer transfer(in);
        device->bulk = [&](unsigned char* b, int length, int* received) {
            return transfer.deliver(b, length, received);
        };
        unsigned char* buffer = zeroedBuffer(bufferSize);
        const int result = c._raw_data(buffer, static_cast<int>(bufferSize));
        // A frame handed out is described by a record inside the buffer.
        // (Second pass: a frame also needs exactly the expected byte count
        // and a successful transfer status.)
        _ezImage record;
        if ((result == 0 || result == 1) && !ezReadRecord(buffer, &record, bufferSize))
            __builtin_trap();
    }
    device->bulk = nullptr;
    return 0;
}
