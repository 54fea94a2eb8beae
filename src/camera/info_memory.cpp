// The camera's information memory and firmware version, reached with vendor
// requests on the control pipe.
#include <algorithm>
#include <cstring>

#include "camera/cam_bayer.h"

namespace {
constexpr int kMemoryLimit = 512;  // bytes one call moves at most
constexpr int kChunk = 64;         // data stage of every request
constexpr int kFirstAddress = 65;  // byte 0 of a transfer lives here

// A vendor request with a 64-byte data stage.
EZURB vendorRequest(uint8_t type, uint8_t request, int value, int index, unsigned char* stage) {
    EZURB urb{};
    urb.requestType = type;
    urb.request = request;
    urb.value = static_cast<uint16_t>(value);
    urb.index = static_cast<uint16_t>(index);
    urb.length = kChunk;
    urb.data = stage;
    return urb;
}

// Bytes a device-to-host request really delivered, whatever it claims.
int received(const EZURB& urb, int status) {
    if (status != 0) return 0;
    return static_cast<int>(std::min<uint32_t>(urb.lengthDone, kChunk));
}
}  // namespace

// Full chunks cover 64 addresses; the last one covers at most 63, so a
// length that is a multiple of 64 sends its last byte without an address.
// A chunk that fails does not stop the others; the call then answers -3,
// as that part of the memory was not written.
int CamBayer::_wmem_inf(char* data, int length) {
    if (!data || length < 0) return EZ_ERANGE;
    const int n = std::min(length, kMemoryLimit);
    int offset = 0;
    bool failed = false;
    unsigned char stage[kChunk];
    while (n - offset > kChunk) {
        std::memcpy(stage, data + offset, kChunk);
        const int first = kFirstAddress + offset;
        EZURB urb = vendorRequest(0x40, 0xb0, first, first + 63, stage);
        // A stalled pipe is cleared by the transfer itself; the next chunk goes on.
        failed |= sensor_.sendRequest(urb) != 0;
        offset += kChunk;
    }
    const int rest = n - offset;
    if (rest > 0) {
        std::memset(stage, 0, sizeof stage);
        std::memcpy(stage, data + offset, static_cast<size_t>(rest));
        const int first = kFirstAddress + offset;
        EZURB urb = vendorRequest(0x40, 0xb0, first, first + std::min(rest, 63) - 1, stage);
        failed |= sensor_.sendRequest(urb) != 0;
    }
    return failed ? EZ_EIO : EZ_OK;
}

// `length` is the size of `data`: at most length - 1 bytes of memory are
// copied and the terminator always lands inside the buffer (10 asked: 9
// bytes and the terminator in the tenth; 512 asked: 511 and the
// terminator). The requests are those of any reading of that length; only
// the byte the terminator needs is not copied. A buffer of 0 bytes still
// gets the terminator, as every non-null text pointer has room for one.
// Bytes a chunk did not deliver read as zeros; a chunk that failed or came
// short does not stop the others, and the call then answers -3.
int CamBayer::_rmem_inf(char* data, int length) {
    if (!data || length < 0) return EZ_ERANGE;
    const int n = std::min(length, kMemoryLimit);
    data[0] = '\0';
    int offset = 0;
    bool failed = false;
    unsigned char stage[kChunk];
    while (n - offset > kChunk) {
        std::memset(stage, 0, sizeof stage);
        const int first = kFirstAddress + offset;
        EZURB urb = vendorRequest(0xc0, 0xb1, first, first + 63, stage);
        const int got = received(urb, sensor_.sendRequest(urb));
        failed |= got < kChunk;
        std::memcpy(data + offset, stage, static_cast<size_t>(got));
        std::memset(data + offset + got, 0, static_cast<size_t>(kChunk - got));
        offset += kChunk;
    }
    const int rest = n - offset;
    if (rest > 0) {
        std::memset(stage, 0, sizeof stage);
        const int k = std::min(rest, 63);
        const int first = kFirstAddress + offset;
        EZURB urb = vendorRequest(0xc0, 0xb1, first, first + k, stage);
        const int got = received(urb, sensor_.sendRequest(urb));
        const int copied = std::min(k, rest - 1);
        const int filled = std::min(got, copied);
        failed |= filled < copied || got == 0;
        std::memcpy(data + offset, stage, static_cast<size_t>(filled));
        std::memset(data + offset + filled, 0, static_cast<size_t>(copied - filled + 1));
    }
    return failed ? EZ_EIO : EZ_OK;
}

// A request that fails or delivers fewer than two bytes reports version 0
// and -3, never whatever the buffer held before.
int CamBayer::_versions(int* version) {
    unsigned char reply[kChunk] = {};
    EZURB urb = vendorRequest(0xc0, 0xb6, 0, 2, reply);
    const int got = received(urb, sensor_.sendRequest(urb));
    const int value = got >= 2 ? reply[0] | reply[1] << 8 : 0;
    if (version) *version = value;
    return got >= 2 ? EZ_OK : EZ_EIO;
}
