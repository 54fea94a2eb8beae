// The decoder and encoder bases of the image-file formats.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>

#include "ezImage/bitstrm.h"
#include "ezcam.h"

// Reads one image format: the header first, then the pixels into an image
// made to the header's measures.
class BaseImageDecoder {
  public:
    BaseImageDecoder() = default;
    virtual ~BaseImageDecoder() = default;

    virtual bool setSource(const char* filename);
    // Reads from memory that the caller keeps alive while decoding.
    bool setSource(const unsigned char* data, size_t size);
    virtual bool readHeader(RBaseStream& stream) = 0;
    virtual bool readData(_ezImage* image, RBaseStream& stream) = 0;
    virtual int signatureLength() const;
    virtual bool checkSignature(const std::string& text) const;
    // A fresh decoder of the same format, so that concurrent loads share nothing.
    virtual std::unique_ptr<BaseImageDecoder> newDecoder() const = 0;

    int width() const { return m_width; }
    int height() const { return m_height; }
    int depth() const { return m_depth; }
    int channels() const { return m_channels; }
    int dataOffset() const { return m_dataOffset; }

  protected:
    // Opens the file or memory source given to setSource.
    bool openSource(RBaseStream& stream) const;

    int m_width = 0;
    int m_height = 0;
    int m_depth = 8;
    int m_channels = 0;
    int m_dataOffset = -1;
    std::string m_filename;
    std::string m_signature;
    bool m_inMemory = false;
    const unsigned char* m_memory = nullptr;
    size_t m_memorySize = 0;
};

// Writes one image format to the destination set before write().
class BaseImageEncoder {
  public:
    explicit BaseImageEncoder(std::string description) : m_description(std::move(description)) {}
    virtual ~BaseImageEncoder() = default;

    virtual bool isFormatSupported(int depth) const;
    virtual bool setDestination(const char* filename);
    virtual bool write(const _ezImage* image) = 0;
    virtual std::string getDescription() const;
    // A fresh encoder of the same format: each save writes through its own
    // instance, so saves on different threads never share a destination.
    virtual std::unique_ptr<BaseImageEncoder> newEncoder() const = 0;

  protected:
    std::string m_description;
    std::string m_filename;
};

// The pixels of a record as the writers walk them.
struct PixelLayout {
    int width;
    int height;
    int channels;
    int bytesPerSample;  // 1 or 2
    size_t rowBytes;     // width * channels * bytesPerSample
    size_t stride;       // distance between rows, at least rowBytes
    const unsigned char* data;
};

// Checks that a record can be walked without leaving its pixels: pixels
// present, non-empty size, depth 8 or 16, 1, 3 or 4 channels, and a stride
// that holds a whole row. False leaves the layout unspecified.
bool pixelLayout(const _ezImage* image, PixelLayout* layout);
