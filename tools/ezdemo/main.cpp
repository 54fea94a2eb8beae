// ezdemo: synthesises a microscope-like raw Bayer frame and runs the frame-
// processing library on it (colour table, both decoders, tone tables,
// histogram), printing timings and results; optionally writes a PPM.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "processing/decode.h"
#include "processing/image_record.h"
#include "processing/tone.h"

namespace {

constexpr int kBayer = 1;  // R G / G B, red meaning channel 2 in the decoders
// A three-channel 16-bit row must fit the record's 16-bit stride.
constexpr int kMaxSide = 65535 / 6;
constexpr int kMinSide = 16;
constexpr int kBorder = 4;  // cut from every side after decoding, as the live pipeline does
constexpr int kRuns = 5;

struct Options {
    int width = 2592;
    int height = 1944;
    std::string output;
};

void usage(FILE* to) {
    std::fprintf(to,
                 "Usage: ezdemo [--width N] [--height N] [--output FILE.ppm]\n"
                 "\n"
                 "Synthesises a microscope-like raw frame (bright cells on a dark background,\n"
                 "Bayer code %d) at 8 and 16 bits, builds the colour-correction table, decodes\n"
                 "the frame with the plain and the colour-corrected decoder, applies gamma and\n"
                 "contrast tables to the image without its %d-pixel border, computes the\n"
                 "histogram, and prints timings (best of %d runs) and results.\n"
                 "\n"
                 "  --width N          frame width in pixels, %d..%d (default 2592)\n"
                 "  --height N         frame height in pixels, %d..%d (default 1944)\n"
                 "  --output FILE.ppm  also write the colour-corrected 8-bit image (border cut)\n"
                 "                     as a binary PPM\n"
                 "  --help             show this text\n",
                 kBayer, kBorder, kRuns, kMinSide, kMaxSide, kMinSide, kMaxSide);
}

// Parses the command line; on a bad argument prints why and returns false.
bool parse(int argc, char** argv, Options& options, bool& help) {
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::string_view value;
        bool hasValue = false;
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasValue = true;
        }
        if (arg == "--help" || arg == "-h") {
            help = true;
            return true;
        }
        const bool known = arg == "--width" || arg == "--height" || arg == "--output";
        if (!known) {
            std::fprintf(stderr, "ezdemo: unknown argument '%s' (see --help)\n", argv[i]);
            return false;
        }
        if (!hasValue) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "ezdemo: %s needs a value (see --help)\n", argv[i]);
                return false;
            }
            value = argv[++i];
        }
        if (arg == "--output") {
            if (value.empty()) {
                std::fprintf(stderr, "ezdemo: --output needs a file name\n");
                return false;
            }
            options.output = value;
            continue;
        }
        int number = 0;
        const auto [end, error] =
            std::from_chars(value.data(), value.data() + value.size(), number);
        if (error != std::errc() || end != value.data() + value.size() || number < kMinSide ||
            number > kMaxSide) {
            std::fprintf(stderr, "ezdemo: %.*s must be a whole number from %d to %d, not '%.*s'\n",
                         int(arg.size()), arg.data(), kMinSide, kMaxSide, int(value.size()),
                         value.data());
            return false;
        }
        (arg == "--width" ? options.width : options.height) = number;
    }
    return true;
}

// ---- The synthetic scene ----------------------------------------------------

// Scene colours in display order (channel 0 red, 1 green, 2 blue), 0..1.
struct Scene {
    int width, height;
    std::vector<float> rgb;
};

Scene makeScene(int width, int height) {
    Scene scene{width, height, std::vector<float>(size_t(width) * height * 3)};
    // Dark, slightly uneven background with a soft vignette.
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double dx = (x - width / 2.0) / width, dy = (y - height / 2.0) / height;
            const double level = 0.05 * (1.0 - 0.8 * (dx * dx + dy * dy));
            float* p = &scene.rgb[(size_t(y) * width + x) * 3];
            p[0] = float(level * 0.8);
            p[1] = float(level);
            p[2] = float(level * 1.3);
        }
    // Cells: Gaussian blobs in a few fluorescence-like colours.
    static const float colours[][3] = {{0.2f, 1.0f, 0.3f},
                                       {1.0f, 0.35f, 0.2f},
                                       {0.3f, 0.5f, 1.0f},
                                       {0.95f, 0.9f, 0.4f},
                                       {0.9f, 0.9f, 0.95f}};
    uint32_t seed = 2024;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) / double(1 << 24);
    };
    const double side = std::min(width, height);
    for (int blob = 0; blob < 24; ++blob) {
        const double cx = next() * width, cy = next() * height;
        const double sigma = side * (0.015 + 0.05 * next());
        const double peak = 0.3 + 0.4 * next();
        const float* colour = colours[blob % 5];
        const int r = int(3 * sigma) + 1;
        for (int y = std::max(0, int(cy) - r); y < std::min(height, int(cy) + r); ++y)
            for (int x = std::max(0, int(cx) - r); x < std::min(width, int(cx) + r); ++x) {
                const double d2 = ((x - cx) * (x - cx) + (y - cy) * (y - cy)) / (2 * sigma * sigma);
                const float v = float(peak * std::exp(-d2));
                float* p = &scene.rgb[(size_t(y) * width + x) * 3];
                for (int c = 0; c < 3; ++c) p[c] = std::min(1.0f, p[c] + v * colour[c]);
            }
    }
    return scene;
}

// Samples the scene through the colour filter mosaic. The decoders put a red
// site's sample into channel 2, so the (0, 0) sites see the scene's channel 2
// and the decoded image comes out in the scene's channel order. 16-bit frames
// carry 12 significant bits aligned to the top, as the cameras deliver them.
void mosaic(const Scene& scene, _ezImage* raw) {
    uint32_t noise = 7;
    for (int y = 0; y < scene.height; ++y)
        for (int x = 0; x < scene.width; ++x) {
            const int channel = (y % 2 == 0 && x % 2 == 0) ? 2 : (y % 2 == 1 && x % 2 == 1) ? 0 : 1;
            noise = noise * 1664525u + 1013904223u;
            const double jitter = ((noise >> 16) & 0xff) / 255.0 - 0.5;
            const double v = scene.rgb[(size_t(y) * scene.width + x) * 3 + channel] + jitter * 0.01;
            const int level = std::clamp(int(v * 4095 + 0.5), 0, 4095);
            const size_t i = size_t(y) * scene.width + x;
            if (raw->depth == 8) {
                raw->data[i] = static_cast<unsigned char>(level >> 4);
            } else {
                const auto sample = static_cast<uint16_t>(level << 4);
                std::memcpy(raw->data + 2 * i, &sample, 2);
            }
        }
}

// ---- Measuring --------------------------------------------------------------

template <typename Step>
double bestMilliseconds(Step step) {
    double best = 1e30;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = std::chrono::steady_clock::now();
        step();
        const auto end = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double, std::milli>(end - start).count());
    }
    return best;
}

// The decoded image without its outer kBorder pixels (the decoders leave the
// outermost rows and columns unwritten).
ImagePtr cropBorder(const _ezImage* image) {
    ImagePtr inner =
        makeImage(image->width - 2 * kBorder, image->height - 2 * kBorder, image->depth, 3);
    if (!inner) return inner;
    const size_t rowBytes = inner->stride;
    const size_t skip = size_t(kBorder) * 3 * (image->depth / 8);
    for (int y = 0; y < inner->height; ++y)
        std::memcpy(inner->data + y * rowBytes,
                    image->data + (y + kBorder) * size_t(image->stride) + skip, rowBytes);
    return inner;
}

// Channel means on the 8-bit scale (high bytes of 16-bit samples).
void printMeans(const char* what, const _ezImage* image) {
    double sums[3] = {};
    const int bytes = image->depth / 8;
    const size_t pixels = size_t(image->width) * image->height;
    for (size_t i = 0; i < pixels; ++i)
        for (int c = 0; c < 3; ++c) sums[c] += image->data[(i * 3 + c) * bytes + bytes - 1];
    std::printf("    %-28s %6.1f %6.1f %6.1f\n", what, sums[0] / pixels, sums[1] / pixels,
                sums[2] / pixels);
}

// Gamma then contrast on every sample (the high byte of 16-bit samples).
void applyTone(_ezImage* image, const unsigned char* gamma, const unsigned char* contrast) {
    unsigned char tone[256];
    for (int i = 0; i < 256; ++i) tone[i] = contrast[gamma[i]];
    const int bytes = image->depth / 8;
    const size_t samples = size_t(image->width) * image->height * 3;
    unsigned char* p = image->data + bytes - 1;
    for (size_t i = 0; i < samples; ++i, p += bytes) *p = tone[*p];
}

bool writePpm(const std::string& path, const _ezImage* image) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        std::fprintf(stderr, "ezdemo: cannot write '%s': %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    bool ok = std::fprintf(file, "P6\n%d %d\n255\n", image->width, image->height) > 0;
    for (int y = 0; ok && y < image->height; ++y)
        ok = std::fwrite(image->data + size_t(y) * image->stride, 1, size_t(image->width) * 3,
                         file) == size_t(image->width) * 3;
    if (std::fclose(file) != 0) ok = false;
    if (!ok) std::fprintf(stderr, "ezdemo: writing '%s' failed\n", path.c_str());
    return ok;
}

bool runDepth(const Scene& scene, int depth, const Options& options) {
    ImagePtr raw = makeImage(scene.width, scene.height, depth, 1, 512);
    ImagePtr plain = makeImage(scene.width, scene.height, depth, 3);
    ImagePtr corrected = makeImage(scene.width, scene.height, depth, 3);
    if (!raw || !plain || !corrected) {
        std::fprintf(stderr, "ezdemo: out of memory for a %d x %d frame\n", scene.width,
                     scene.height);
        return false;
    }
    raw->bayer = kBayer;
    mosaic(scene, raw.get());

    const double plainMs =
        bestMilliseconds([&] { __decode_rawdatafast(raw.get(), plain.get(), kBayer); });
    const double correctedMs =
        bestMilliseconds([&] { __decode_rawdata(raw.get(), corrected.get(), kBayer); });
    ImagePtr plainInner = cropBorder(plain.get());
    ImagePtr correctedInner = cropBorder(corrected.get());
    ImagePtr toned = cropBorder(corrected.get());
    if (!plainInner || !correctedInner || !toned) {
        std::fprintf(stderr, "ezdemo: out of memory for a %d x %d frame\n", scene.width,
                     scene.height);
        return false;
    }

    unsigned char gamma[256], contrast[256];
    __matrix_gamma(110, gamma, 256);
    __matrix_contrast(140, contrast, 256);
    const double toneMs = bestMilliseconds([&] {
        ezCopyImage(toned.get(), correctedInner.get());
        applyTone(toned.get(), gamma, contrast);
    });
    const double histogramMs = bestMilliseconds([&] { __calc_histogram(toned.get()); });

    std::printf("%d-bit frame\n", depth);
    std::printf(
        "  timings (ms): plain decode %.2f, corrected decode %.2f, copy + gamma 110 + "
        "contrast 140 %.2f, histogram %.2f\n",
        plainMs, correctedMs, toneMs, histogramMs);
    std::printf("  channel means (0 / 1 / 2, 8-bit scale, %d-pixel border cut):\n", kBorder);
    printMeans("plain decode", plainInner.get());
    printMeans("colour-corrected decode", correctedInner.get());
    printMeans("after gamma and contrast", toned.get());
    std::printf("  histogram bounds (low..high) after gamma and contrast:\n");
    static const char* names[] = {"mixture", "channel 0", "channel 1", "channel 2"};
    for (int block = 0; block < 4; ++block) {
        int32_t bounds[2];
        std::memcpy(bounds, toned->extra + (size_t(block) * kHistogramBlock + kHistogramLow) * 4,
                    sizeof bounds);
        std::printf("    %-10s %3d..%d\n", names[block], bounds[0], bounds[1]);
    }
    if (depth == 8 && !options.output.empty()) {
        if (!writePpm(options.output, correctedInner.get())) return false;
        std::printf("  wrote %s (colour-corrected decode, %d x %d)\n", options.output.c_str(),
                    correctedInner->width, correctedInner->height);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    bool help = false;
    if (!parse(argc, argv, options, help)) return 2;
    if (help) {
        usage(stdout);
        return 0;
    }

    std::printf("ezdemo: %d x %d synthetic frame, Bayer code %d\n", options.width, options.height,
                kBayer);
    const Scene scene = makeScene(options.width, options.height);
    bool ok = true;
    for (int depth : {8, 16}) ok = ok && runDepth(scene, depth, options);
    return ok ? 0 : 1;
}
