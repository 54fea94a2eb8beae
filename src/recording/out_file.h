// A file a container is written to: appends at its end, small rewrites in
// place, and the reason of the first failure. A descriptor of our own (no
// stdio buffer) so that what a call wrote is in the file when it returns:
// a killed process leaves every completed write behind.
#pragma once

#include <sys/types.h>
#include <sys/uio.h>

#include <cstdint>
#include <string>

namespace recording {

class OutFile {
  public:
    OutFile() = default;
    ~OutFile();
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;

    // Creates (replacing) or opens `path` for writing; the end is the
    // file's size.
    bool create(const std::string& path);
    bool openExisting(const std::string& path);
    bool isOpen() const { return fd_ >= 0; }
    // Appends every byte of the pieces, in order.
    bool append(const void* data, size_t bytes);
    bool appendv(iovec* pieces, int count);
    // Rewrites bytes already in the file. A rewrite that lies within one
    // 4 KiB page is all or nothing even when the process is killed, so a
    // count or an offset kept up to date this way is never half written.
    bool putAt(uint64_t offset, const void* data, size_t bytes);
    bool readAt(uint64_t offset, void* data, size_t bytes);
    // Cuts the file (or extends it with zeros) to `bytes`; the end follows.
    bool resize(uint64_t bytes);
    bool close();
    uint64_t end() const { return end_; }
    // The reason of the last failure ("No space left on device"), and its errno.
    const std::string& failure() const { return failure_; }
    int failureErrno() const { return errno_; }
    // The disk (or the quota) is full: removing another file makes room.
    bool outOfSpace() const;

  private:
    bool fail();
    int fd_ = -1;
    uint64_t end_ = 0;
    std::string failure_;
    int errno_ = 0;
};

// Little-endian fields.
inline void put16(unsigned char* at, uint32_t v) {
    at[0] = static_cast<unsigned char>(v);
    at[1] = static_cast<unsigned char>(v >> 8);
}
inline void put32(unsigned char* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline void put64(unsigned char* at, uint64_t v) {
    for (int i = 0; i < 8; ++i) at[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline uint32_t get16(const unsigned char* at) {
    return static_cast<uint32_t>(at[0] | at[1] << 8);
}
inline uint32_t get32(const unsigned char* at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | at[i];
    return v;
}
inline uint64_t get64(const unsigned char* at) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | at[i];
    return v;
}

// The size of a file; -1 when it cannot be read.
int64_t fileSize(const std::string& path);

}  // namespace recording
