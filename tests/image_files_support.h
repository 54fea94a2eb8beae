// Test support for the image files: a scratch directory, test images, and
// independent readers (libpng, libjpeg, libtiff) for the written files.
#pragma once

#include <png.h>
#include <stdlib.h>
#include <tiffio.h>

#include <csetjmp>
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
struct ScratchDir {
    std::string path = [] {
        char pattern[] = "/tmp/ezcam-files-XXXXXX";
        return std::string(mkdtemp(pattern));
    }();
    ~ScratchDir() { std::filesystem::remove_all(path); }
    std::string file(const std::string& name) const { return path + "/" + name; }
};

using Bytes = std::vector<unsigned char>;
inline Bytes readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
inline void writeBytes(const std::string& path, const Bytes& b) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size());
}
inline uint32_t le16(const Bytes& b, size_t at) {
    return b.at(at) | b.at(at + 1) << 8;
}
inline uint32_t le32(const Bytes& b, size_t at) {
    return le16(b, at) | le16(b, at + 2) << 16;
}

// Sample i (pixel i / channels) of an image without row padding.
inline int sampleAt(const _ezImage* image, size_t i) {
    return image->depth == 16 ? image->data[2 * i] | image->data[2 * i + 1] << 8 : image->data[i];
}
inline void setSample(_ezImage* image, size_t i, int value) {
    if (image->depth == 16) image->data[2 * i + 1] = static_cast<unsigned char>(value >> 8);
    image->data[(image->depth / 8) * i] = static_cast<unsigned char>(value);
}
inline size_t sampleCount(const _ezImage* image) {
    return size_t{image->width} * image->height * image->channels;
}

// Samples that differ from their neighbours, with pixel 0 (200, 100, 50) (in
// the high bytes at 16 bits); or a smooth ramp that JPEG keeps closely.
inline ImagePtr testImage(int width, int height, int depth, int channels, bool smooth = false) {
    ImagePtr image = makeImage(width, height, depth, channels);
    for (size_t i = 0; i < sampleCount(image.get()); ++i) {
        const size_t x = i / channels % width, y = i / channels / width, c = i % channels;
        const int v = smooth ? int(40 + 2 * x + 2 * y + 40 * c) << (depth - 8) | int(x) * (depth - 8)
                             : int((i * 7919 + i / 5) % (depth == 16 ? 65536 : 256));
        setSample(image.get(), i, v);
    }
    const int probe[3] = {200, 100, 50};
    for (int c = 0; !smooth && c < channels && c < 3; ++c)
        setSample(image.get(), c, probe[c] << (depth - 8) | (depth - 8));
    return image;
}

// What an independent reader saw: size, format and all samples in file order.
struct ReadBack {
    bool ok = false;
    int width = 0, height = 0, channels = 0, depth = 8;
    int kind = -1;  // PNG colour type, JPEG colour space or TIFF photometric
    std::vector<int> samples;
};

// libpng's reader, in a plain struct since libpng's errors longjmp.
struct PngRead {
    png_structp png;
    png_infop info;
    FILE* file;
    Bytes* pixels;
    ReadBack* out;
};
inline bool pngSteps(PngRead* r) {
    if (setjmp(png_jmpbuf(r->png))) return false;
    png_init_io(r->png, r->file);
    png_read_info(r->png, r->info);
    r->out->width = png_get_image_width(r->png, r->info);
    r->out->height = png_get_image_height(r->png, r->info);
    r->out->depth = png_get_bit_depth(r->png, r->info);
    r->out->kind = png_get_color_type(r->png, r->info);
    r->out->channels = png_get_channels(r->png, r->info);
    const size_t rowBytes = png_get_rowbytes(r->png, r->info);
    r->pixels->resize(rowBytes * r->out->height);
    for (int y = 0; y < r->out->height; ++y)
        png_read_row(r->png, r->pixels->data() + y * rowBytes, nullptr);
    png_read_end(r->png, nullptr);
    return true;
}
inline ReadBack readPng(const std::string& path) {
    ReadBack out;
    Bytes pixels;
    PngRead r{png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr), nullptr,
              std::fopen(path.c_str(), "rb"), &pixels, &out};
    r.info = png_create_info_struct(r.png);
    out.ok = r.file && pngSteps(&r);
    for (size_t i = 0; out.ok && i < pixels.size() / (out.depth / 8); ++i)  // 16-bit is big-endian
        out.samples.push_back(out.depth == 16 ? pixels[2 * i] << 8 | pixels[2 * i + 1] : pixels[i]);
    png_destroy_read_struct(&r.png, &r.info, nullptr);
    if (r.file) std::fclose(r.file);
    return out;
}

// libjpeg's reader, in a plain struct since its error exit longjmps.
struct JpegRead {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    jmp_buf jump;
    FILE* file;
    ReadBack* out;
    Bytes* row;
};
inline bool jpegSteps(JpegRead* r) {
    r->cinfo.err = jpeg_std_error(&r->err);
    r->err.error_exit = [](j_common_ptr c) {
        longjmp(static_cast<JpegRead*>(c->client_data)->jump, 1);
    };
    r->cinfo.client_data = r;
    if (setjmp(r->jump)) return false;
    jpeg_create_decompress(&r->cinfo);
    jpeg_stdio_src(&r->cinfo, r->file);
    jpeg_read_header(&r->cinfo, TRUE);
    jpeg_start_decompress(&r->cinfo);
    r->out->width = r->cinfo.output_width;
    r->out->height = r->cinfo.output_height;
    r->out->channels = r->cinfo.output_components;
    r->out->kind = r->cinfo.jpeg_color_space;
    r->out->samples.resize(size_t{r->cinfo.output_width} * r->cinfo.output_height *
                           r->cinfo.output_components);
    r->row->resize(size_t{r->cinfo.output_width} * r->cinfo.output_components);
    while (r->cinfo.output_scanline < r->cinfo.output_height) {
        const size_t at = r->cinfo.output_scanline * r->row->size();
        JSAMPROW rows[1] = {r->row->data()};
        jpeg_read_scanlines(&r->cinfo, rows, 1);
        std::copy(r->row->begin(), r->row->end(), r->out->samples.begin() + at);
    }
    jpeg_finish_decompress(&r->cinfo);
    return true;
}
inline ReadBack readJpeg(const std::string& path) {
    ReadBack out;
    Bytes row;
    auto* r = new JpegRead{};
    r->file = std::fopen(path.c_str(), "rb");
    r->out = &out;
    r->row = &row;
    out.ok = r->file && jpegSteps(r);
    jpeg_destroy_decompress(&r->cinfo);
    if (r->file) std::fclose(r->file);
    delete r;
    return out;
}

// libtiff's reader.
inline ReadBack readTiff(const std::string& path) {
    ReadBack out;
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (!tiff) return out;
    uint16_t depth = 0, channels = 0, kind = 0;
    out.ok = TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &out.width) &&
             TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &out.height) &&
             TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &depth) &&
             TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &channels) &&
             TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &kind);
    out.depth = depth, out.channels = channels, out.kind = kind;
    Bytes row(TIFFScanlineSize(tiff));
    for (int y = 0; out.ok && y < out.height; ++y) {
        out.ok = TIFFReadScanline(tiff, row.data(), y, 0) == 1;
        for (size_t i = 0; i < row.size() / (depth / 8); ++i)
            out.samples.push_back(depth == 16 ? row[2 * i] | row[2 * i + 1] << 8 : row[i]);
    }
    TIFFClose(tiff);
    return out;
}
