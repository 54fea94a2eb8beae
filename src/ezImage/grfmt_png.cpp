// The PNG writer, on libpng.
#include "ezImage/grfmt_png.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>

namespace {

// Everything libpng touches, in one plain struct: a library error longjmps
// out of libpng, so no object with a destructor may live in the frames it
// crosses, and the caller releases all of this explicitly.
struct PngJob {
    png_structp png;
    png_infop info;
    FILE* file;
    const PixelLayout* layout;
};

// Runs every libpng call of one save; false after a library error.
bool pngWriteRows(PngJob* job) {
    if (setjmp(png_jmpbuf(job->png))) return false;
    const PixelLayout& layout = *job->layout;
    const int colourType = layout.channels == 1   ? PNG_COLOR_TYPE_GRAY
                           : layout.channels == 3 ? PNG_COLOR_TYPE_RGB
                                                  : PNG_COLOR_TYPE_RGB_ALPHA;
    png_init_io(job->png, job->file);
    png_set_filter(job->png, 0, PNG_FILTER_SUB);
    png_set_compression_level(job->png, 1);
    png_set_compression_strategy(job->png, 2);  // Huffman coding only
    png_set_IHDR(job->png, job->info, layout.width, layout.height, 8 * layout.bytesPerSample,
                 colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(job->png, job->info);
    // Samples are already in file order (channel 0 red); 16-bit samples are
    // little-endian in memory and PNG wants them big-endian.
    if (layout.bytesPerSample == 2) png_set_swap(job->png);
    // libpng transforms a copy of each row, so the image's rows go in as they are.
    for (int y = 0; y < layout.height; ++y)
        png_write_row(job->png, layout.data + static_cast<size_t>(y) * layout.stride);
    png_write_end(job->png, job->info);
    return true;
}

}  // namespace

bool PngEncoder::write(const _ezImage* image) {
    PixelLayout layout;
    if (!pixelLayout(image, &layout)) return false;
    PngJob job{nullptr, nullptr, nullptr, &layout};
    // libpng 1.6 refuses to start when the caller names an older library
    // version (such as "1.2.8"), so give it the version of the headers it
    // was built with.
    job.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!job.png) return false;
    job.info = png_create_info_struct(job.png);
    if (job.info) job.file = std::fopen(m_filename.c_str(), "wb");
    bool ok = job.file && pngWriteRows(&job);
    png_destroy_write_struct(&job.png, &job.info);
    if (job.file && std::fclose(job.file) != 0) ok = false;
    return ok;
}
