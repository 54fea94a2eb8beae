// The product table: one row per USB product the SDK knows, holding all
// that product is on the host side: the class that drives it, whether the
// SDK watches for it by default, the catalogue rows that build and claim
// it, how its frames travel by device release, its frame reader's steps,
// its finishing, the order it resumes in, the features it offers and its
// quirks. Everything else reads these rows.
#pragma once

#include <cstdint>
#include <span>

#include "camera/product_row.h"

// Every row: first the 36 products watched by default, in the order their
// watches are registered, then the products only created on request
// (EZCAM_EXTRA_IDS). The default claims are the rows with `watched`, under
// vendor 0x0547; a pair is creatable when its row has a class, under each
// of vendorIds(row.vendors).
std::span<const ProductRow> productTable();

// The row of a pair, or null (watched-only rows included).
const ProductRow* findProduct(uint16_t vendor, uint16_t product);

// The quirks of a pair; none for a pair without a row.
ProductQuirks productQuirks(uint16_t vendor, uint16_t product);
