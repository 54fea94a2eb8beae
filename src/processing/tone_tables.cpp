// Tone and colour lookup tables and the per-frame histogram with its bounds.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>

#include "processing/tone.h"

namespace {

unsigned char clampEntry(long long v, int n) {
    return static_cast<unsigned char>(std::clamp<long long>(v, 0, n - 1));
}

}  // namespace

void __matrix_gamma(int value, unsigned char* table, int n) {
    if (!table || n <= 0) return;
    // A gamma of 0 or below has no finite exponent; the darkest curve stands in.
    const double g = 100.0 / std::max(value, 1);
    const double top = n - 1;
    const double k = n > 1 ? std::pow(top, g) / top : 1.0;
    for (int i = 0; i < n; ++i) {
        const double v = std::pow(static_cast<double>(i), g) / k;
        table[i] = static_cast<unsigned char>(std::clamp(v, 0.0, top));
    }
}

void __matrix_contrast(int value, unsigned char* table, int n) {
    if (!table || n <= 0) return;
    // Degrees, from -1 at 0 through 44 at 128; computed in double so that no
    // setting can overflow.
    const double angle = ((static_cast<double>(value) - 128) * 45 * 0.0078125 + 44) / 180;
    const double slope = std::tan(angle * 3.1415926535897625);
    const double top = n - 1;
    for (int i = 0; i < n; ++i) {
        const double v = (i - 128) * slope + 128.5;
        // Truncation toward zero, then the clamp: anything at or above the top
        // is the top, anything not above -1 is 0.
        table[i] = v >= top ? static_cast<unsigned char>(n - 1)
                   : v > -1 ? static_cast<unsigned char>(static_cast<int>(v))
                            : 0;
    }
}

void __matrix_stretch(int low, int high, unsigned char* table, int n) {
    if (!table || n <= 0) return;
    const int zeroEnd = std::clamp(low, 0, n);
    const int fullStart = std::clamp(high, 0, n);
    std::fill(table, table + zeroEnd, 0);
    // Written in order: zeros, the ramp, then the full part from high on.
    if (low < high) {
        const long long span = static_cast<long long>(high) - low;
        for (int i = zeroEnd; i < fullStart; ++i)
            table[i] =
                static_cast<unsigned char>((i - static_cast<long long>(low)) * (n - 1) / span);
    }
    std::fill(table + fullStart, table + n, static_cast<unsigned char>(n - 1));
}

void __matrix_saturation(int value, unsigned char* table, int n) {
    if (!table || n <= 0) return;
    for (int r = 0; r < n; ++r) {
        unsigned char* row = table + static_cast<size_t>(r) * n;
        for (int v = 0; v < n; ++v)
            row[v] = clampEntry(r + static_cast<long long>(v - r) * value / 100, n);
    }
}

void __matrix_channel(int value, unsigned char* table, int n) {
    if (!table || n <= 0) return;
    for (int i = 0; i < n; ++i) table[i] = clampEntry(static_cast<long long>(i) * value / 64, n);
}

namespace {

// Lowers `high` from the top until the counted samples exceed the threshold:
// the brightest 0.1 % no longer set the bound.
int clipHigh(const Counts bins, int low, int high, long long threshold) {
    if (high < low) return high;
    long long count = 0;
    for (int i = high; i >= low; --i) {
        count += bins[i];
        high = i;
        if (count > threshold) break;
    }
    return high;
}

int lastNonZero(const Counts bins) {
    for (int j = 255; j >= 1; --j)
        if (bins[j]) return j;
    return 0;
}

void storeBlock(unsigned char* area, int block, const Counts bins, int low, int high) {
    int32_t out[kHistogramBlock];
    for (int j = 0; j < 256; ++j)
        out[j] =
            static_cast<int32_t>(std::min<long long>(bins[j], std::numeric_limits<int32_t>::max()));
    out[kHistogramLow] = low;
    out[kHistogramHigh] = high;
    // The area behind the pixels need not be aligned for 32-bit access.
    std::memcpy(area + static_cast<size_t>(block) * sizeof out, out, sizeof out);
}

// Counts `samples` 8-bit values, one every Step bytes from the last byte of
// the first (the high byte of a little-endian 16-bit sample), sample i into
// set i mod 6. Runs start at a pixel, so on a colour image channel c counts
// into sets c and c + 3, and consecutive samples of a channel never share a
// counter: the long runs of equal values of a flat background do not queue
// on one counter's store. Each round loads its samples before its
// increments (the counter stores could alias the samples); 32 bits hold any
// per-set count.
template <int Step, size_t... I>
inline void countRound(const unsigned char* p, uint32_t (&sets)[kCounterSets][256],
                       std::index_sequence<I...>) {
    const unsigned s[] = {p[I * Step]...};
    ((++sets[I][s[I]]), ...);
}

template <int Step>
void countSamples(const unsigned char* p, size_t samples, uint32_t (&sets)[kCounterSets][256]) {
    p += Step - 1;
    size_t i = 0;
    for (; i + kCounterSets <= samples; i += kCounterSets, p += kCounterSets * Step)
        countRound<Step>(p, sets, std::make_index_sequence<kCounterSets>{});
    for (size_t k = 0; i < samples; ++i, ++k, p += Step) ++sets[k][*p];
}

bool measurable(const _ezImage* image) {
    return image && image->data && image->extra && (image->channels == 1 || image->channels == 3) &&
           (image->depth == 8 || image->depth == 16);
}

}  // namespace

void countRows(const _ezImage* image, int firstRow, int rows, HistogramCounters& counters) {
    if (!measurable(image)) return;
    for (int y = firstRow; y < firstRow + rows; ++y)
        countPixels(image->data + static_cast<size_t>(y) * image->stride, image->width,
                    image->channels, image->depth, counters);
}

void countPixels(const unsigned char* p, size_t pixels, int channels, int depth,
                 HistogramCounters& counters) {
    const size_t samples = pixels * static_cast<size_t>(channels);
    depth == 16 ? countSamples<2>(p, samples, counters.sets)
                : countSamples<1>(p, samples, counters.sets);
}

void addCounters(const _ezImage* image, const HistogramCounters& counters, Counts* bins) {
    if (!measurable(image)) return;
    const int channels = image->channels;
    const int sets = kCounterSets / channels;
    for (int c = 0; c < channels; ++c)
        for (int j = 0; j < 256; ++j) {
            long long total = 0;
            for (int k = 0; k < sets; ++k) total += counters.sets[k * channels + c][j];
            bins[c][j] += total;
        }
}

int __calc_histogram(_ezImage* image) {
    // Beyond a null record, refuse what cannot be measured safely: no pixels
    // or statistics area, or a layout other than 1 or 3 channels of 8 or 16 bits.
    if (!measurable(image)) return EZ_EIO;
    Counts bins[3] = {};
    HistogramCounters counters = {};
    countRows(image, 0, image->height, counters);
    addCounters(image, counters, bins);
    return storeHistogram(image, bins);
}

int storeHistogram(_ezImage* image, const Counts* bins) {
    if (!measurable(image)) return EZ_EIO;
    const long long pixels = static_cast<long long>(image->width) * image->height;
    const long long threshold = pixels / 1000;

    if (image->channels == 1) {
        int low = 255;
        for (int j = 0; j < 256; ++j)
            if (bins[0][j]) {
                low = j;
                break;
            }
        const int high = clipHigh(bins[0], low, lastNonZero(bins[0]), threshold);
        storeBlock(image->extra, 0, bins[0], low, high);
        return EZ_OK;
    }

    const Counts* channel = bins;
    Counts mixture = {};
    long long weighted[256];
    int mixtureLow = 0;
    bool mixtureLowFound = false;
    for (int j = 0; j < 256; ++j) {
        weighted[j] = channel[0][j] + 6 * channel[1][j] + 3 * channel[2][j];
        mixture[j] = weighted[j] / 10;
        if (!mixtureLowFound && weighted[j] >= 10) {
            mixtureLow = j;
            mixtureLowFound = true;
        }
    }
    for (int c = 0; c < 3; ++c) {
        int low = 0;
        for (int j = 0; j < 256; ++j)
            if (channel[c][j]) {
                low = j;
                break;
            }
        const int high = clipHigh(channel[c], low, lastNonZero(channel[c]), threshold);
        storeBlock(image->extra, c + 1, channel[c], low, high);
    }
    const int high = clipHigh(mixture, mixtureLow, lastNonZero(mixture), threshold);
    storeBlock(image->extra, 0, mixture, mixtureLow, high);
    return EZ_OK;
}
