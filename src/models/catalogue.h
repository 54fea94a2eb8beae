// The model catalogue: which class drives which USB vendor and product.
#pragma once

#include <cstdint>
#include <memory>

class CamBayer;

// A new, unopened camera object of the model class for this pair, or null
// for a pair the catalogue does not hold. No USB traffic.
std::unique_ptr<CamBayer> _create_device(uint16_t product, uint16_t vendor);
