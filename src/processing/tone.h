// Tone and colour tables, histogram, means and the automatic white-balance measurement.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ezcam.h"

// Table builders; n is 256 (the saturation table gets n * n entries).
void __matrix_gamma(int value, unsigned char* table, int n);
void __matrix_contrast(int value, unsigned char* table, int n);
void __matrix_stretch(int low, int high, unsigned char* table, int n);
void __matrix_saturation(int value, unsigned char* table, int n);
void __matrix_channel(int value, unsigned char* table, int n);

// Histogram blocks of 258 ints (256 bins, low bound, high bound) at image->extra.
constexpr int kHistogramBlock = 258;
constexpr int kHistogramLow = 256;
constexpr int kHistogramHigh = 257;
// Fills the statistics area; 0, or -3 for a null image.
int __calc_histogram(_ezImage* image);
// The same in parts, for images measured in stripes: countRows counts the
// 8-bit values of rows firstRow .. firstRow + rows - 1 into a stripe's
// counters (neighbouring samples into separate sets, so that flat areas do
// not queue on one counter), addCounters adds them to bins[channel], and
// storeHistogram stores the bins and their bounds.
using Counts = long long[256];
// Sets of counters that consecutive samples of a channel spread over, so
// that a run of equal values does not wait on its own counter's store: two
// per channel of a colour image, six on a grey one. (More sets, and longer
// rounds of loads, measured slower: the counters' increments are the cost.)
constexpr int kCounterSets = 6;
struct HistogramCounters {
    uint32_t sets[kCounterSets][256];
};
void countRows(const _ezImage* image, int firstRow, int rows, HistogramCounters& counters);
// The same for `pixels` pixels of `channels` samples of `depth` bits from p
// (a pixel's start), for runs that are not whole rows.
void countPixels(const unsigned char* p, size_t pixels, int channels, int depth,
                 HistogramCounters& counters);
void addCounters(const _ezImage* image, const HistogramCounters& counters, Counts* bins);
int storeHistogram(_ezImage* image, const Counts* bins);

// Mean of the first width * height samples (high bytes of 16-bit samples).
float __calc_gray(_ezImage* image);
// Writes the channel means into channel_mean (and turns 0 bytes into 1); 0.
int __calc_avg(_ezImage* image, int mode);
// Measures a decoded image and writes three channel gains; 0, or -1.
int __white_balance(_ezImage* image, int* gains);
// Gains from the pixels whose mask value is non-zero; 0, or -1.
int _color_temperature(_ezImage* image, _ezImage* mask, int* gains);
