// Vector kernels of the tone passes on 8-bit samples: the colour pass
// (per-channel tables around an exact saturation) and per-channel tables on
// interleaved samples (the stretch, the grey tone). Each kernel works on
// whole blocks of 64 pixels; the caller runs its scalar loop on the rest,
// so both paths compute the same bytes. AVX-512 with byte permutes (VBMI)
// where the processor has them, else AVX2 byte shuffles; null below AVX2 (or the
// EZCAM_SIMD limit).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tone {

// The colour pass of an 8-bit pixel (c0, c1, c2): each channel through its
// `before` table, then, with saturation >= 0, c0 and c2 pulled towards or
// away from the green c1 as c1 + trunc((c - c1) * saturation / 100) clamped
// to 0..255 (the saturation table's entries, computed), then each channel
// through its `after` table. A null table is no step.
// On 16-bit pixels these steps take the high bytes, and the low bytes go
// through their `low` tables.
struct ColourSteps {
    const unsigned char* before[3] = {};
    int saturation = -1;
    const unsigned char* after[3] = {};
    const unsigned char* low[3] = {};
};
using ColourBlocks = void (*)(unsigned char* pixels, size_t blocks, const ColourSteps& steps);

// Tables on interleaved 8-bit samples: sample i of a pixel through
// tables[i]; channels 1 or 3.
using TableBlocks = void (*)(unsigned char* samples, size_t blocks, int channels,
                             const unsigned char* const* tables);

constexpr size_t kBlockPixels = 64;

ColourBlocks colourBlocks();
TableBlocks tableBlocks();
// The same on 16-bit pixels (little-endian samples) of three channels, the
// tables on the high bytes; VBMI only.
ColourBlocks colourWideBlocks();
TableBlocks tableWideBlocks();

// Every family of these kernels the processor runs, whatever EZCAM_SIMD
// says, so that each can be held to the scalar steps; a family without a
// kernel has it null.
struct KernelFamily {
    const char* name;
    ColourBlocks colour, colourWide;
    TableBlocks tables, tablesWide;
};
std::vector<KernelFamily> kernelFamilies();

}  // namespace tone
