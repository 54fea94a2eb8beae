// The JPEG writer, on libjpeg's 6b interface.
#include "ezImage/grfmt_jpeg.h"

#include <csetjmp>
#include <cstdio>
#include <vector>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

namespace {

using RowFn = void (*)(const unsigned char* source, unsigned char* row, int width);

// One scanline: the first three samples of each pixel (or the one), high
// bytes of 16-bit samples; the source steps by the image's channel count.
template <int Ch, int Bps>
void jpegRow(const unsigned char* source, unsigned char* row, int width) {
    constexpr int hi = Bps - 1;
    constexpr int out = Ch == 1 ? 1 : 3;
    for (int x = 0; x < width; ++x, source += Ch * Bps, row += out) {
        row[0] = source[hi];
        if constexpr (out == 3) {
            row[1] = source[Bps + hi];
            row[2] = source[2 * Bps + hi];
        }
    }
}

RowFn jpegRowFor(int channels, int bytesPerSample) {
    const bool wide = bytesPerSample == 2;
    switch (channels) {
        case 1:
            return wide ? jpegRow<1, 2> : jpegRow<1, 1>;
        case 3:
            return wide ? jpegRow<3, 2> : jpegRow<3, 1>;
        default:
            return wide ? jpegRow<4, 2> : jpegRow<4, 1>;
    }
}

// Everything libjpeg touches, in one plain struct: its error exit longjmps
// out of the library, so no object with a destructor may live in the frames
// it crosses, and the caller releases all of this explicitly.
struct JpegJob {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    jmp_buf jump;
    FILE* file;
    const PixelLayout* layout;
    RowFn pack;
    unsigned char* row;
};

void jpegErrorExit(j_common_ptr cinfo) {
    longjmp(static_cast<JpegJob*>(cinfo->client_data)->jump, 1);
}

// Runs every libjpeg call of one save; false after a library error.
bool jpegWriteRows(JpegJob* job) {
    job->cinfo.err = jpeg_std_error(&job->err);
    job->err.error_exit = jpegErrorExit;
    job->cinfo.client_data = job;
    if (setjmp(job->jump)) return false;
    jpeg_create_compress(&job->cinfo);
    jpeg_stdio_dest(&job->cinfo, job->file);
    const PixelLayout& layout = *job->layout;
    job->cinfo.image_width = layout.width;
    job->cinfo.image_height = layout.height;
    job->cinfo.input_components = layout.channels == 1 ? 1 : 3;
    job->cinfo.in_color_space = layout.channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&job->cinfo);
    jpeg_set_quality(&job->cinfo, 95, TRUE);
    jpeg_start_compress(&job->cinfo, TRUE);
    for (int y = 0; y < layout.height; ++y) {
        job->pack(layout.data + static_cast<size_t>(y) * layout.stride, job->row, layout.width);
        JSAMPROW rows[1] = {job->row};
        jpeg_write_scanlines(&job->cinfo, rows, 1);
    }
    jpeg_finish_compress(&job->cinfo);
    return true;
}

}  // namespace

bool JpegEncoder::write(const _ezImage* image) {
    PixelLayout layout;
    if (!pixelLayout(image, &layout)) return false;
    std::vector<unsigned char> row(static_cast<size_t>(layout.width) *
                                   (layout.channels == 1 ? 1 : 3));
    FILE* file = std::fopen(m_filename.c_str(), "wb");
    if (!file) return false;
    // Zeroed, so that destroying works even when creation itself failed.
    JpegJob job{};
    job.file = file;
    job.layout = &layout;
    job.pack = jpegRowFor(layout.channels, layout.bytesPerSample);
    job.row = row.data();
    bool ok = jpegWriteRows(&job);
    jpeg_destroy_compress(&job.cinfo);
    if (std::fclose(file) != 0) ok = false;
    return ok;
}
