// Block-buffered file streams with little-endian integer access.
#include "ezImage/bitstrm.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

// ---- read stream ---------------------------------------------------------

RBaseStream::RBaseStream() = default;

RBaseStream::~RBaseStream() {
    close();
    release();
}

void RBaseStream::allocate() {
    if (m_ownsBuffer) return;
    m_ownBuffer.reset(new (std::nothrow) unsigned char[m_blockSize]);
    m_buffer = m_ownBuffer.get();
    m_limit = m_current = 0;
    m_loadedOffset = -1;
    m_ownsBuffer = m_buffer != nullptr;
}

void RBaseStream::release() {
    close();  // never leave an open file without its buffer
    m_ownBuffer.reset();
    m_buffer = nullptr;
    m_limit = m_current = 0;
    m_loadedOffset = -1;
    m_ownsBuffer = false;
}

bool RBaseStream::open(const char* path) {
    close();
    allocate();
    if (!m_ownsBuffer || !path) return false;
    m_fileHandle = std::fopen(path, "rb");
    if (!m_fileHandle) return false;
    m_opened = true;
    m_eof = false;
    m_loadedOffset = -1;
    setPos(0);
    readBlock();
    return true;
}

bool RBaseStream::open(const unsigned char* data, size_t size) {
    close();
    if (!data && size) return false;
    m_buffer = data;
    m_limit = static_cast<int64_t>(size);
    m_current = 0;
    m_blockOffset = 0;
    m_loadedOffset = 0;
    m_opened = true;
    m_eof = false;
    return true;
}

void RBaseStream::close() {
    if (m_fileHandle) std::fclose(m_fileHandle);
    m_fileHandle = nullptr;
    m_opened = false;
    // A memory source belongs to the caller: forget it.
    m_buffer = m_ownBuffer.get();
    m_limit = m_current = 0;
    m_blockOffset = 0;
    m_loadedOffset = -1;
}

bool RBaseStream::setPos(int64_t pos) {
    if (!m_opened || pos < 0) return false;
    if (!m_fileHandle) {
        m_current = pos;
        m_blockOffset = 0;
        return true;
    }
    // No read here: the next access loads the block if it is not the one held.
    m_blockOffset = pos - pos % m_blockSize;
    m_current = pos % m_blockSize;
    return true;
}

int64_t RBaseStream::size() const {
    if (!m_opened) return -1;
    if (!m_fileHandle) return m_limit;
    struct stat status;
    return fstat(fileno(m_fileHandle), &status) == 0 ? static_cast<int64_t>(status.st_size) : -1;
}

int64_t RBaseStream::getPos() const {
    return m_opened ? m_blockOffset + m_current : -1;
}

bool RBaseStream::skip(int64_t bytes) {
    if (!m_opened || bytes < 0 || bytes > std::numeric_limits<int64_t>::max() - getPos())
        return false;
    m_current += bytes;
    return true;
}

bool RBaseStream::readBlock() {
    if (!m_opened) return false;
    setPos(getPos());
    if (!m_fileHandle) return m_current < m_limit;
    m_loadedOffset = -1;
    m_limit = 0;
    if (fseeko(m_fileHandle, static_cast<off_t>(m_blockOffset), SEEK_SET) != 0) return false;
    // The position inside the block is kept: a setPos into the middle of a
    // block must deliver the bytes from there on.
    m_limit = static_cast<int64_t>(std::fread(m_ownBuffer.get(), 1, m_blockSize, m_fileHandle));
    m_loadedOffset = m_blockOffset;
    return m_limit > 0;
}

bool RBaseStream::fill() {
    if (m_opened) {
        if (m_loadedOffset == m_blockOffset && m_current < m_limit) return true;
        if (m_fileHandle) {
            setPos(getPos());
            // A block held already and still exhausted is a short one: the end
            // of the file, which a re-read would not change.
            if (m_loadedOffset != m_blockOffset) readBlock();
            if (m_loadedOffset == m_blockOffset && m_current < m_limit) return true;
        }
    }
    m_eof = true;
    return false;
}

int RBaseStream::getByte() {
    if ((m_loadedOffset != m_blockOffset || m_current >= m_limit) && !fill()) return 0;
    return m_buffer[m_current++];
}

int64_t RBaseStream::getBytes(void* destination, int64_t count) {
    if (!destination || count < 0) return 0;
    auto* out = static_cast<unsigned char*>(destination);
    int64_t copied = 0;
    while (copied < count) {
        if ((m_loadedOffset != m_blockOffset || m_current >= m_limit) && !fill()) break;
        const int64_t n = std::min(count - copied, m_limit - m_current);
        std::memcpy(out + copied, m_buffer + m_current, static_cast<size_t>(n));
        m_current += n;
        copied += n;
    }
    return copied;
}

int RBaseStream::getWord() {
    if (m_loadedOffset == m_blockOffset && m_current + 2 <= m_limit) {
        const unsigned char* p = m_buffer + m_current;
        m_current += 2;
        return p[0] | p[1] << 8;
    }
    const int low = getByte();
    return low | getByte() << 8;
}

uint32_t RBaseStream::getDWord() {
    if (m_loadedOffset == m_blockOffset && m_current + 4 <= m_limit) {
        const unsigned char* p = m_buffer + m_current;
        m_current += 4;
        return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
    }
    uint32_t value = 0;
    for (int shift = 0; shift < 32; shift += 8) value |= static_cast<uint32_t>(getByte()) << shift;
    return value;
}

// ---- write stream --------------------------------------------------------

WBaseStream::WBaseStream() = default;

WBaseStream::~WBaseStream() {
    close();
    release();
}

void WBaseStream::allocate() {
    if (m_buffer) return;
    m_storage.reset(new (std::nothrow) unsigned char[m_blockSize]);
    m_buffer = m_current = m_storage.get();
    m_limit = m_buffer ? m_buffer + m_blockSize : nullptr;
}

void WBaseStream::release() {
    close();  // never leave an open file without its buffer
    m_storage.reset();
    m_buffer = m_limit = m_current = nullptr;
}

bool WBaseStream::open(const char* path) {
    close();
    allocate();
    if (!m_buffer || !path) return false;
    m_fileHandle = std::fopen(path, "wb");
    if (!m_fileHandle) return false;
    m_opened = true;
    m_failed = false;
    m_written = 0;
    m_current = m_buffer;
    return true;
}

bool WBaseStream::writeBlock() {
    if (!m_opened) {
        m_failed = true;
        return false;
    }
    const size_t count = static_cast<size_t>(m_current - m_buffer);
    if (count && std::fwrite(m_buffer, 1, count, m_fileHandle) != count) m_failed = true;
    m_written += static_cast<int64_t>(count);
    m_current = m_buffer;
    return !m_failed;
}

bool WBaseStream::close() {
    if (!m_opened) return false;
    writeBlock();
    if (std::fclose(m_fileHandle) != 0) m_failed = true;
    m_fileHandle = nullptr;
    m_opened = false;
    return !m_failed;
}

int64_t WBaseStream::getPos() const {
    return m_opened ? (m_current - m_buffer) + m_written : -1;
}

void WBaseStream::putByte(int value) {
    if (!m_opened) {
        m_failed = true;
        return;
    }
    *m_current++ = static_cast<unsigned char>(value);
    if (m_current >= m_limit) writeBlock();
}

void WBaseStream::putWord(int value) {
    if (m_opened && m_current + 2 <= m_limit) {
        m_current[0] = static_cast<unsigned char>(value);
        m_current[1] = static_cast<unsigned char>(value >> 8);
        m_current += 2;
        if (m_current >= m_limit) writeBlock();
        return;
    }
    putByte(value);
    putByte(value >> 8);
}

void WBaseStream::putDWord(uint32_t value) {
    if (m_opened && m_current + 4 <= m_limit) {
        for (int i = 0; i < 4; ++i) m_current[i] = static_cast<unsigned char>(value >> 8 * i);
        m_current += 4;
        if (m_current >= m_limit) writeBlock();
        return;
    }
    for (int i = 0; i < 4; ++i) putByte(static_cast<int>(value >> 8 * i) & 0xff);
}

void WBaseStream::putBytes(const void* data, int64_t count) {
    if (count == 0) return;
    if (!data || !m_current || count < 0 || !m_opened) {
        m_failed = true;
        return;
    }
    const auto* in = static_cast<const unsigned char*>(data);
    while (count > 0) {
        const int64_t n = std::min<int64_t>(count, m_limit - m_current);
        std::memcpy(m_current, in, static_cast<size_t>(n));
        m_current += n;
        in += n;
        count -= n;
        if (m_current >= m_limit) writeBlock();
    }
}
