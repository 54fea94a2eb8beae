// The 24-patch colour chart: its patches' reference colours (CIE L*a*b*
// under D50) and their linear sRGB (D65), the geometry the simulator draws
// it with, and the colour arithmetic measuring against it needs: sRGB,
// L*a*b* and the CIEDE2000 colour difference.
#pragma once

#include <array>

namespace chart {

constexpr int kPatches = 24;
constexpr int kColumns = 6, kRows = 4;

struct Patch {
    const char* name;
    double lab[3];  // L*, a*, b* under D50
};
// In reading order, row 1 dark skin ... bluish green, row 4 white ... black.
extern const Patch kPatchesD50[kPatches];

using Rgb = std::array<double, 3>;
using Lab = std::array<double, 3>;

// Linear sRGB (D65 white 1) of a D50 L*a*b* colour, by Bradford adaptation.
Rgb linearSrgbOfLabD50(const Lab& lab);
// L*a*b* under D65 of a linear sRGB colour (the white of sRGB is L* 100).
Lab labD65OfLinearSrgb(const Rgb& rgb);
// The reference patches as linear sRGB and as D65 L*a*b*, computed once.
const std::array<Rgb, kPatches>& referenceRgb();
const std::array<Lab, kPatches>& referenceLab();

// The sRGB transfer function and its inverse, on 0..1.
double srgbEncode(double linear);
double srgbDecode(double encoded);

// CIEDE2000 (kL = kC = kH = 1).
double deltaE2000(const Lab& a, const Lab& b);

// Patch (column c, row r) of the simulator's chart covers x from
// (0.07 + 0.15 c) to (0.18 + 0.15 c) and y from (0.13 + 0.2 r) to
// (0.27 + 0.2 r) of the frame's width and height: fractions of the chart's
// rectangle, which is the whole frame here.
struct Box {
    double x0, y0, x1, y1;  // fractions of the chart's rectangle
};
Box patchBox(int patch);

}  // namespace chart
