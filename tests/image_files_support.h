// Test support for the image files: a scratch directory, test images, and
// independent readers (libpng, libjpeg, libtiff) for the written files.
#pragma once

#include <png.h>
#include <stdlib.h>
#include <tiffio.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

#include "processing/image_record.h"

// A directory removed with everything in it when the test ends.
class ScratchDir {
  public:
    ScratchDir() {
        char pattern[] = "/tmp/ezcam-files-XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~ScratchDir() { std::filesystem::remove_all(path_); }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

inline std::vector<unsigned char> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

inline uint32_t le32(const std::vector<unsigned char>& b, size_t at) {
    return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 |
           static_cast<uint32_t>(b.at(at + 3)) << 24;
}
inline uint16_t le16(const std::vector<unsigned char>& b, size_t at) {
    return static_cast<uint16_t>(b.at(at) | b.at(at + 1) << 8);
}

// Sample value at pixel (x, y), channel c of a record (16-bit read whole).
inline int sampleAt(const _ezImage* image, int x, int y, int c) {
    const unsigned char* p = image->data + static_cast<size_t>(y) * image->stride +
                             (static_cast<size_t>(x) * image->channels + c) * (image->depth / 8);
    return image->depth == 16 ? p[0] | p[1] << 8 : p[0];
}
inline void setSample(_ezImage* image, int x, int y, int c, int value) {
    unsigned char* p = image->data + static_cast<size_t>(y) * image->stride +
                       (static_cast<size_t>(x) * image->channels + c) * (image->depth / 8);
    p[0] = static_cast<unsigned char>(value);
    if (image->depth == 16) p[1] = static_cast<unsigned char>(value >> 8);
}

// An image whose every sample differs from its neighbours, with the pixel
// (200, 100, 50) (scaled to the top of 16-bit samples) at (0, 0).
inline ImagePtr patternImage(int width, int height, int depth, int channels) {
    ImagePtr image = makeImage(width, height, depth, channels);
    const int top = depth == 16 ? 65535 : 255;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c)
                setSample(image.get(), x, y, c,
                          (x * 37 + y * 101 + c * 59 + x * y * 13) % (top + 1));
    const int probe[3] = {200, 100, 50};
    for (int c = 0; c < channels && c < 3; ++c)
        setSample(image.get(), 0, 0, c, depth == 16 ? probe[c] << 8 | 0x5a : probe[c]);
    return image;
}

// What an independent reader saw: size, format and all samples in file order.
struct ReadBack {
    bool ok = false;
    int width = 0, height = 0, channels = 0, depth = 0;
    int kind = -1;  // PNG colour type, JPEG colour space or TIFF photometric
    std::vector<int> samples;
    int at(int x, int y, int c) const {
        return samples.at((static_cast<size_t>(y) * width + x) * channels + c);
    }
};

namespace support_detail {
struct PngRead {
    png_structp png;
    png_infop info;
    FILE* file;
    unsigned char* pixels;
    png_bytep* rows;
    png_uint_32 width, height;
    int depth, type, channels;
};
inline bool pngSteps(PngRead* r) {
    if (setjmp(png_jmpbuf(r->png))) return false;
    png_init_io(r->png, r->file);
    png_read_info(r->png, r->info);
    int interlace, compression, filter;
    png_get_IHDR(r->png, r->info, &r->width, &r->height, &r->depth, &r->type, &interlace,
                 &compression, &filter);
    r->channels = png_get_channels(r->png, r->info);
    const size_t rowBytes = png_get_rowbytes(r->png, r->info);
    r->pixels = static_cast<unsigned char*>(malloc(rowBytes * r->height));
    r->rows = static_cast<png_bytep*>(malloc(sizeof(png_bytep) * r->height));
    for (png_uint_32 y = 0; y < r->height; ++y) r->rows[y] = r->pixels + y * rowBytes;
    png_read_image(r->png, r->rows);
    png_read_end(r->png, nullptr);
    return true;
}

struct JpegRead {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    jmp_buf jump;
    FILE* file;
    unsigned char* pixels;
};
inline void jpegFail(j_common_ptr cinfo) {
    longjmp(static_cast<JpegRead*>(cinfo->client_data)->jump, 1);
}
inline bool jpegSteps(JpegRead* r) {
    r->cinfo.err = jpeg_std_error(&r->err);
    r->err.error_exit = jpegFail;
    r->cinfo.client_data = r;
    if (setjmp(r->jump)) return false;
    jpeg_create_decompress(&r->cinfo);
    jpeg_stdio_src(&r->cinfo, r->file);
    jpeg_read_header(&r->cinfo, TRUE);
    jpeg_start_decompress(&r->cinfo);
    const size_t rowBytes = r->cinfo.output_width * r->cinfo.output_components;
    r->pixels = static_cast<unsigned char*>(malloc(rowBytes * r->cinfo.output_height));
    while (r->cinfo.output_scanline < r->cinfo.output_height) {
        JSAMPROW row = r->pixels + r->cinfo.output_scanline * rowBytes;
        jpeg_read_scanlines(&r->cinfo, &row, 1);
    }
    jpeg_finish_decompress(&r->cinfo);
    return true;
}
}  // namespace support_detail

// libpng's reader; 16-bit samples come back as their values.
inline ReadBack readPng(const std::string& path) {
    ReadBack out;
    support_detail::PngRead r{};
    r.file = std::fopen(path.c_str(), "rb");
    if (!r.file) return out;
    r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    r.info = png_create_info_struct(r.png);
    out.ok = pngSteps(&r);
    if (out.ok) {
        out.width = static_cast<int>(r.width);
        out.height = static_cast<int>(r.height);
        out.channels = r.channels;
        out.depth = r.depth;
        out.kind = r.type;
        const size_t count = static_cast<size_t>(out.width) * out.height * out.channels;
        for (size_t i = 0; i < count; ++i)
            out.samples.push_back(r.depth == 16 ? r.pixels[2 * i] << 8 | r.pixels[2 * i + 1]
                                                : r.pixels[i]);
    }
    png_destroy_read_struct(&r.png, &r.info, nullptr);
    free(r.pixels);
    free(r.rows);
    std::fclose(r.file);
    return out;
}

// libjpeg's reader.
inline ReadBack readJpeg(const std::string& path) {
    ReadBack out;
    auto* r = new support_detail::JpegRead{};
    r->file = std::fopen(path.c_str(), "rb");
    if (r->file && (out.ok = jpegSteps(r))) {
        out.width = static_cast<int>(r->cinfo.output_width);
        out.height = static_cast<int>(r->cinfo.output_height);
        out.channels = r->cinfo.output_components;
        out.depth = 8;
        out.kind = r->cinfo.jpeg_color_space;
        out.samples.assign(r->pixels,
                           r->pixels + static_cast<size_t>(out.width) * out.height * out.channels);
    }
    jpeg_destroy_decompress(&r->cinfo);
    free(r->pixels);
    if (r->file) std::fclose(r->file);
    delete r;
    return out;
}

// libtiff's reader; 16-bit samples come back as their values.
inline ReadBack readTiff(const std::string& path) {
    ReadBack out;
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (!tiff) return out;
    uint32_t width = 0, height = 0;
    uint16_t bits = 0, spp = 0, photometric = 0;
    out.ok = TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) &&
             TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height) &&
             TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &bits) &&
             TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &spp) &&
             TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    out.width = static_cast<int>(width);
    out.height = static_cast<int>(height);
    out.channels = spp;
    out.depth = bits;
    out.kind = photometric;
    std::vector<unsigned char> row(static_cast<size_t>(TIFFScanlineSize(tiff)));
    for (uint32_t y = 0; out.ok && y < height; ++y) {
        out.ok = TIFFReadScanline(tiff, row.data(), y, 0) == 1;
        for (size_t i = 0; i < static_cast<size_t>(width) * spp; ++i)
            out.samples.push_back(bits == 16 ? row[2 * i] | row[2 * i + 1] << 8 : row[i]);
    }
    TIFFClose(tiff);
    return out;
}
