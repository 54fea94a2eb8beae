// The decoder and encoder bases of the image-file formats.
#include "ezImage/grfmt_base.h"

#include <cstring>

bool BaseImageDecoder::setSource(const char* filename) {
    if (!filename) return false;
    m_filename = filename;
    m_inMemory = false;
    return true;
}

bool BaseImageDecoder::setSource(const unsigned char* data, size_t size) {
    if (!data && size) return false;
    m_filename.clear();
    m_inMemory = true;
    m_memory = data;
    m_memorySize = size;
    return true;
}

bool BaseImageDecoder::openSource(RBaseStream& stream) const {
    return m_inMemory ? stream.open(m_memory, m_memorySize) : stream.open(m_filename.c_str());
}

int BaseImageDecoder::signatureLength() const {
    return static_cast<int>(m_signature.size());
}

bool BaseImageDecoder::checkSignature(const std::string& text) const {
    return text.size() >= m_signature.size() &&
           text.compare(0, m_signature.size(), m_signature) == 0;
}

bool BaseImageEncoder::isFormatSupported(int depth) const {
    return depth == 8;
}

bool BaseImageEncoder::setDestination(const char* filename) {
    if (!filename) return false;
    m_filename = filename;
    return true;
}

std::string BaseImageEncoder::getDescription() const {
    return m_description;
}

bool pixelLayout(const _ezImage* image, PixelLayout* layout) {
    if (!image || !layout || !image->data) return false;
    if (image->width == 0 || image->height == 0) return false;
    if (image->depth != 8 && image->depth != 16) return false;
    if (image->channels != 1 && image->channels != 3 && image->channels != 4) return false;
    layout->width = image->width;
    layout->height = image->height;
    layout->channels = image->channels;
    layout->bytesPerSample = image->depth / 8;
    layout->rowBytes = static_cast<size_t>(image->width) * image->channels * (image->depth / 8);
    layout->stride = image->stride;
    layout->data = image->data;
    return layout->stride >= layout->rowBytes;
}
