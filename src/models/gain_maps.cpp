// The analog-gain mappings the catalogue's sensor rows refer to.
#include <iterator>

#include "models/model_row.h"

// ---- Gain mappings ---------------------------------------------------------
// Each sensor splits its gain into stages; the step number g picks the stage
// and the position within it.

uint16_t gainVA200(int g) {
    if (g <= 32) return static_cast<uint16_t>(g + 31);
    if (g <= 128) return static_cast<uint16_t>(g + 127);
    if (g <= 192) return static_cast<uint16_t>(g + 319);
    return static_cast<uint16_t>(g);
}

uint16_t gainVA131(int g) {
    if (g <= 30) return static_cast<uint16_t>(g + 31);
    if (g <= 63) return static_cast<uint16_t>(2 * g + 1);
    if (g <= 80) return static_cast<uint16_t>(g + 129);
    return static_cast<uint16_t>(g);
}

uint16_t gainVA500(int g) {
    if (g < 64) return static_cast<uint16_t>(g);
    return static_cast<uint16_t>(g * 256 - 16065);
}

uint16_t gainVA300(int g) {
    if (g <= 25) return static_cast<uint16_t>(g + 7);
    if (g <= 41) return static_cast<uint16_t>(g + 55);
    if (g <= 161) return static_cast<uint16_t>(g * 256 - 10400);
    return 0;
}

uint16_t gainVA131M(int g) {
    return static_cast<uint16_t>(g < 64 ? g : g + 32);
}

uint16_t gainVA1K(int g) {
    static constexpr uint16_t kStage[] = {0x1040, 0x1840, 0x1c40, 0x1cc0, 0x1dc0};
    if (g < 0) return 0;
    const int stage = g / 64;
    if (stage >= static_cast<int>(std::size(kStage))) return 0;
    return static_cast<uint16_t>(kStage[stage] + g % 64);
}

uint16_t gainUnchanged(int g) {
    return static_cast<uint16_t>(g);
}
