// Block-buffered file streams with little-endian integer access.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

// Reads a file, or a caller's memory block, through a 32768-byte buffer.
// Misuse (reading a closed stream, negative positions or counts) is refused
// rather than fatal; reading past the end delivers zero bytes and sets eof().
class RBaseStream {
  public:
    RBaseStream();
    virtual ~RBaseStream();
    RBaseStream(const RBaseStream&) = delete;
    RBaseStream& operator=(const RBaseStream&) = delete;

    virtual bool open(const char* path);
    // Reads from memory the caller keeps alive until close(); not copied.
    bool open(const unsigned char* data, size_t size);
    virtual void close();
    virtual bool readBlock();
    virtual void release();
    virtual void allocate();

    bool isOpened() const { return m_opened; }
    bool setPos(int64_t pos);
    // Current position, or -1 when closed.
    int64_t getPos() const;
    bool skip(int64_t bytes);
    // Next byte; 0 past the end of the data.
    int getByte();
    // Copies up to count bytes; returns the number copied (short at the end).
    int64_t getBytes(void* destination, int64_t count);
    int getWord();
    uint32_t getDWord();
    // Some read asked for bytes beyond the end of the data (or a closed stream).
    bool eof() const { return m_eof; }
    // Bytes in the file or memory block; -1 when closed or unknown.
    int64_t size() const;

    static constexpr int kBlockSize = 0x8000;

  protected:
    // Makes m_current point at available bytes; false at the end of the data.
    bool fill();

    const unsigned char* m_buffer = nullptr;
    // m_limit and m_current are offsets into m_buffer; m_current may pass
    // m_limit after a skip, which makes the next read refill.
    int64_t m_limit = 0;
    int64_t m_current = 0;
    FILE* m_fileHandle = nullptr;
    int m_blockSize = kBlockSize;
    int64_t m_blockOffset = 0;
    // File offset of the block in the buffer, -1 when none is loaded.
    int64_t m_loadedOffset = -1;
    bool m_opened = false;
    bool m_ownsBuffer = false;
    bool m_eof = false;
    std::unique_ptr<unsigned char[]> m_ownBuffer;
};

// Writes a file through a 32768-byte buffer, flushed whenever it fills.
// Misuse is refused; any failed write makes close() report false.
class WBaseStream {
  public:
    WBaseStream();
    virtual ~WBaseStream();
    WBaseStream(const WBaseStream&) = delete;
    WBaseStream& operator=(const WBaseStream&) = delete;

    virtual bool open(const char* path);
    // Flushes and closes; false when anything since open() failed to reach the file.
    virtual bool close();
    virtual bool writeBlock();
    virtual void release();
    virtual void allocate();

    bool isOpened() const { return m_opened; }
    // Current position, or -1 when closed.
    int64_t getPos() const;
    void putByte(int value);
    void putWord(int value);
    void putDWord(uint32_t value);
    void putBytes(const void* data, int64_t count);
    // Bytes already handed to the file, and bytes waiting in the buffer.
    int64_t written() const { return m_written; }
    int64_t buffered() const { return m_current - m_buffer; }
    bool failed() const { return m_failed; }

    static constexpr int kBlockSize = 0x8000;

  protected:
    FILE* m_fileHandle = nullptr;
    std::unique_ptr<unsigned char[]> m_storage;
    unsigned char* m_buffer = nullptr;
    unsigned char* m_limit = nullptr;
    unsigned char* m_current = nullptr;
    int m_blockSize = kBlockSize;
    int64_t m_written = 0;
    bool m_opened = false;
    bool m_failed = false;
};
