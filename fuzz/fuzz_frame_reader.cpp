// libFuzzer entry: the frame reader every model runs, fed arbitrary
// transfers through a fake transport. The input picks the camera (any
// product of the product table at the releases its layouts and claim rows
// name, so every frame layout),
// its mode, and up to three transfers: each one's length against what the
// reader asked, its status, its first and last bytes (markers, headers,
// signatures, trailers) and ten-byte stamps at chosen packet starts (a run
// into the next frame). No transfer may make the reader touch memory
// outside the caller's buffer, and a frame it hands out must be described
// by a record that lies inside that buffer.
//
// Input: product, release (pick), resolution, options, [buffer shortfall (2)],
// [region x, y, width, height (2 each)], then per transfer: length change
// (2, signed), status, n, n first bytes, m, m last bytes, k, k stamps of
// packet index (2) and byte value.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include <sanitizer/asan_interface.h>

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
    // Returns how far it wrote.
    size_t deliver(unsigned char* buffer, int length, int* received) const {
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
        return written;
    }
};

// The caller's buffer: exactly the size asked for, bounded by poisoned
// bytes on both sides so that any access outside it is caught, and all zeros
// at the start of every run so that no run sees what an earlier one left.
// One block serves every size (a fresh one would cost page faults and
// clearing megabytes for every run); only the bytes a run may have changed
// are cleared for the next one: the buffer is RecvMemSize long, often far
// more than the frame.
class CallerBuffer {
  public:
    unsigned char* take(size_t size) {
        if (size > capacity_) {
            ASAN_UNPOISON_MEMORY_REGION(block_.get(), capacity_);
            capacity_ = size + 8;
            block_.reset(new unsigned char[capacity_]());
            low_ = high_ = 0;
        } else {
            ASAN_UNPOISON_MEMORY_REGION(block_.get(), capacity_);
            std::memset(block_.get() + low_, 0, high_ - low_);
        }
        // At the end of the block, at an 8-byte boundary as malloc gives.
        start_ = (capacity_ - size) & ~size_t{7};
        ASAN_POISON_MEMORY_REGION(block_.get(), start_);
        ASAN_POISON_MEMORY_REGION(block_.get() + start_ + size, capacity_ - start_ - size);
        low_ = high_ = start_;
        return block_.get() + start_;
    }
    // Bytes from the buffer's start up to `end` may hold something else than zeros.
    void touched(size_t end) { high_ = std::max(high_, start_ + end); }

  private:
    std::unique_ptr<unsigned char[]> block_;
    size_t capacity_ = 0, start_ = 0;
    size_t low_ = 0, high_ = 0;  // what the last run may have changed
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::Input in(data, size);
    const size_t product = in.byte() % fuzzing::products().size();
    const uint16_t release = fuzzing::release(fuzzing::products()[product], in);
    fuzzing::Camera& camera = fuzzing::camera(product, release);
    CamBayer& c = *camera.object;

    const int resolution = in.byte();
    const uint8_t options = in.byte();
    c._set_resolution(resolution % std::max(c._resolution_count(), 1), true);
    if (options & kDepth16) c._set_raw_depth(16);
    size_t bufferSize = static_cast<size_t>(std::max(c._body(), 0));
    if (options & kShortBuffer) bufferSize -= std::min<size_t>(in.word(), bufferSize);
    if (options & (kRegionRequested | kRegionActive)) {
        const int x = in.word(), y = in.word(), width = in.word(), height = in.word();
        c._set_roi(x, y, width, height);
        if (options & kRegionActive) c.sensorControl().roiRequested = 0, c.sensorControl().roiActive = 1;
    }
    c._set_autoexposure(options & kAutoExposure);
    if (options & kDefectSearch) c._calc_defect_correction();
    if (bufferSize == 0) return 0;

    static CallerBuffer callerBuffer;
    for (int read = 0; read < 3 && in.left() > 0; ++read) {
        const Transfer transfer(in);
        unsigned char* buffer = callerBuffer.take(bufferSize);
        camera.device->bulk = [&](unsigned char* b, int length, int* received) {
            const size_t written = transfer.deliver(b, length, received);
            callerBuffer.touched(static_cast<size_t>(b - buffer) + written);
            return transfer.status;
        };
        const int result = c._raw_data(buffer, static_cast<int>(bufferSize));
        // Besides what the device sent, the reader writes the record over the
        // header and, for a frame, samples within what its record describes.
        callerBuffer.touched(std::min<size_t>(static_cast<size_t>(std::max(c._head(), 0)), bufferSize));
        // A frame handed out came from a successful transfer that claimed
        // no more than it was asked for, and is described by a record inside
        // the buffer; a lost frame leaves no record behind.
        _ezImage record;
        const bool described = ezReadRecord(buffer, &record, bufferSize);
        const bool frame = result == 0 || result == 1;
        if (frame && (!described || transfer.status != usb::kSuccess || transfer.change > 0))
            __builtin_trap();
        if (result == -3 && described) __builtin_trap();
        if (described) callerBuffer.touched(record.header_size + size_t{record.stride} * record.height);
    }
    return 0;
}
