// The registry of image formats: encoders chosen by file extension,
// decoders by the signature at the start of a file.
#include "ezImage/registry.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "ezImage/grfmt_bmp.h"
#include "ezImage/grfmt_jpeg.h"
#include "ezImage/grfmt_png.h"
#include "ezImage/grfmt_raw.h"
#include "ezImage/grfmt_tiff.h"
#include "processing/image_record.h"

namespace {

std::mutex registryLock;
std::vector<std::unique_ptr<BaseImageDecoder>> decoders;
std::vector<std::unique_ptr<BaseImageEncoder>> encoders;

constexpr int kMaxExtension = 128;

// Letters and digits of ASCII only: bytes of other encodings never match.
bool isAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether one of the "*.ext" patterns after the description's first '('
// is exactly the extension of n characters.
bool listsExtension(const std::string& description, const char* extension, int n) {
    size_t at = description.find('(');
    if (at == std::string::npos) return false;
    while ((at = description.find('.', at)) != std::string::npos) {
        const char* pattern = description.c_str() + at + 1;
        int matched = 0;
        while (matched < n && isAlnum(pattern[matched]) &&
               lower(pattern[matched]) == lower(extension[matched]))
            ++matched;
        if (matched == n && !isAlnum(pattern[n])) return true;
        ++at;
    }
    return false;
}

BaseImageEncoder* matchEncoder(const char* filename) {
    if (!filename || std::strlen(filename) < 2) return nullptr;
    const char* dot = std::strrchr(filename, '.');
    if (!dot) return nullptr;
    const char* extension = dot + 1;
    int n = 0;
    while (n < kMaxExtension && isAlnum(extension[n])) ++n;
    for (auto& encoder : encoders) {
        if (listsExtension(encoder->getDescription(), extension, n)) return encoder.get();
    }
    return nullptr;
}

BaseImageDecoder* matchDecoder(const char* filename) {
    if (!filename) return nullptr;
    int longest = 0;
    for (auto& decoder : decoders) longest = std::max(longest, decoder->signatureLength());
    FILE* file = std::fopen(filename, "rb");
    if (!file) return nullptr;
    // Only the bytes actually read take part: a short file is compared short.
    std::string head(static_cast<size_t>(longest), '\0');
    head.resize(std::fread(head.data(), 1, head.size(), file));
    std::fclose(file);
    for (auto& decoder : decoders) {
        if (decoder->checkSignature(head)) return decoder.get();
    }
    return nullptr;
}

}  // namespace

void ezInitGrfmt() {
    std::lock_guard lock(registryLock);
    decoders.clear();
    encoders.clear();
    encoders.push_back(std::make_unique<RawEncoder>());
    encoders.push_back(std::make_unique<BmpEncoder>());
    encoders.push_back(std::make_unique<JpegEncoder>());
    encoders.push_back(std::make_unique<TiffEncoder>());
    encoders.push_back(std::make_unique<PngEncoder>());
}

void exExitGrfmt() {
    std::lock_guard lock(registryLock);
    decoders.clear();
    encoders.clear();
}

void ezAddDecoder(std::unique_ptr<BaseImageDecoder> decoder) {
    if (!decoder) return;
    std::lock_guard lock(registryLock);
    decoders.push_back(std::move(decoder));
}

BaseImageEncoder* findEncoder(const char* filename) {
    std::lock_guard lock(registryLock);
    return matchEncoder(filename);
}

BaseImageDecoder* findDecoder(const char* filename) {
    std::lock_guard lock(registryLock);
    return matchDecoder(filename);
}

bool ezSaveImage(const char* filename, const _ezImage* image) {
    if (!image || (image->channels != 1 && image->channels != 3 && image->channels != 4))
        return false;
    std::unique_ptr<BaseImageEncoder> encoder;
    {
        std::lock_guard lock(registryLock);
        if (BaseImageEncoder* found = matchEncoder(filename)) encoder = found->newEncoder();
    }
    return encoder && encoder->setDestination(filename) && encoder->write(image);
}

_ezImage* ezLoadImage(const char* filename) {
    std::unique_ptr<BaseImageDecoder> decoder;
    {
        std::lock_guard lock(registryLock);
        if (BaseImageDecoder* found = matchDecoder(filename)) decoder = found->newDecoder();
    }
    if (!decoder || !decoder->setSource(filename)) return nullptr;
    RBaseStream stream;
    if (!decoder->readHeader(stream)) return nullptr;
    _ezImage* image = ezCreateImage(decoder->width(), decoder->height(), decoder->depth(),
                                    decoder->channels(), decoder->dataOffset(), 1);
    if (image && !decoder->readData(image, stream)) ezReleaseImage(&image);
    stream.close();
    return image;
}
