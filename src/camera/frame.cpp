// The facts a frame carries in its header area.
#include "camera/frame.h"

#include <cstring>

namespace frame {
namespace {
constexpr char kTag[4] = {'E', 'Z', 'F', 'I'};
static_assert(kFactsOffset >= sizeof(_ezImage), "the facts sit behind the image record");
}  // namespace

void storeFacts(unsigned char* buffer, size_t headerSize, const EzFrameInfo& info) {
    if (!buffer || headerSize < kFactsEnd) return;
    std::memcpy(buffer + kFactsOffset, kTag, sizeof kTag);
    std::memcpy(buffer + kFactsOffset + sizeof kTag, &info, sizeof info);
}

void clearFacts(unsigned char* buffer, size_t headerSize) {
    if (buffer && headerSize >= kFactsEnd) std::memset(buffer + kFactsOffset, 0, sizeof kTag);
}

bool storedFacts(const unsigned char* buffer, EzFrameInfo& info) {
    if (!buffer) return false;
    _ezImage record;
    std::memcpy(&record, buffer, sizeof record);
    if (std::memcmp(record.signature, "KVEZ", 4) != 0 || record.decoded ||
        record.header_size < kFactsEnd)
        return false;
    if (std::memcmp(buffer + kFactsOffset, kTag, sizeof kTag) != 0) return false;
    std::memcpy(&info, buffer + kFactsOffset + sizeof kTag, sizeof info);
    return true;
}

}  // namespace frame
