// Writes of the containers, with their failures kept.
#include "recording/out_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace recording {

OutFile::~OutFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool OutFile::fail() {
    errno_ = errno;
    failure_ = std::strerror(errno_);
    return false;
}

bool OutFile::outOfSpace() const {
    return errno_ == ENOSPC || errno_ == EDQUOT;
}

bool OutFile::create(const std::string& path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    end_ = 0;
    return fd_ >= 0 || fail();
}

bool OutFile::openExisting(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0) return fail();
    struct stat info {};
    if (::fstat(fd_, &info) != 0) return fail();
    end_ = static_cast<uint64_t>(info.st_size);
    return true;
}

bool OutFile::append(const void* data, size_t bytes) {
    iovec piece{const_cast<void*>(data), bytes};
    return appendv(&piece, 1);
}

bool OutFile::appendv(iovec* pieces, int count) {
    // pwritev at the known end: a short write (a full disk) goes on where
    // it stopped, so the failure is the disk's and not a lost tail.
    while (count > 0) {
        const ssize_t n = ::pwritev(fd_, pieces, count, static_cast<off_t>(end_));
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail();
        }
        end_ += static_cast<uint64_t>(n);
        auto left = static_cast<size_t>(n);
        while (count > 0 && left >= pieces->iov_len) {
            left -= pieces->iov_len;
            ++pieces;
            --count;
        }
        if (count > 0) {
            pieces->iov_base = static_cast<char*>(pieces->iov_base) + left;
            pieces->iov_len -= left;
        }
    }
    return true;
}

bool OutFile::putAt(uint64_t offset, const void* data, size_t bytes) {
    const auto* from = static_cast<const char*>(data);
    while (bytes > 0) {
        const ssize_t n = ::pwrite(fd_, from, bytes, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail();
        }
        from += n;
        bytes -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    end_ = std::max(end_, offset);
    return true;
}

bool OutFile::readAt(uint64_t offset, void* data, size_t bytes) {
    auto* to = static_cast<char*>(data);
    while (bytes > 0) {
        const ssize_t n = ::pread(fd_, to, bytes, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return fail();
        }
        to += n;
        bytes -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

bool OutFile::resize(uint64_t bytes) {
    if (::ftruncate(fd_, static_cast<off_t>(bytes)) != 0) return fail();
    end_ = bytes;
    return true;
}

bool OutFile::close() {
    if (fd_ < 0) return true;
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 || fail();
}

int64_t fileSize(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<int64_t>(info.st_size) : -1;
}

}  // namespace recording
