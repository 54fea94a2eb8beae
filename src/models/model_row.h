// The model catalogue's gain mappings; the row types live in
// camera/product_row.h.
#pragma once

#include <cstdint>

#include "camera/product_row.h"

// Gain mappings, one per family of sensors.
uint16_t gainVA200(int g);
uint16_t gainVA131(int g);
uint16_t gainVA500(int g);
uint16_t gainVA300(int g);
uint16_t gainVA131M(int g);
uint16_t gainVA1K(int g);
uint16_t gainUnchanged(int g);

