// The creation table: which model class drives which USB product.
#include "models/catalogue.h"

#include <iterator>

#include "models/models.h"

namespace {
using Factory = std::unique_ptr<CamBayer> (*)();

template <class Camera>
std::unique_ptr<CamBayer> make() {
    return std::make_unique<Camera>();
}

struct CreationRow {
    uint16_t product;
    Factory create;
    uint32_t bulkPipe;  // 0: as the class sets it
};

// Products of the vendors 0x0547, 0x8020 and 0x8021. The classes built as
// VDh285M1 read their frames from the second bulk pipe.
constexpr CreationRow kProducts[] = {
    {0xa003, make<VAh1KC1>, 0},  {0xa004, make<VAh500C1>, 0}, {0xa00d, make<VAh500C1>, 0},
    {0xa005, make<VSh035C1>, 0}, {0xa006, make<VAh500M1>, 0}, {0xa007, make<VAh300C1>, 0},
    {0xa008, make<VAh131C1>, 0}, {0xa009, make<VSh036C1>, 0}, {0xa00a, make<VSh035M1>, 0},
    {0xa00b, make<VAh131M1>, 0}, {0xa811, make<VAh200C1>, 0}, {0xac11, make<V3h5MC1>, 0},
    {0xc003, make<VAo1KC1>, 0},  {0xc004, make<VAo500C1>, 0}, {0xc005, make<VSo035C1>, 0},
    {0xc006, make<VAo500M1>, 0}, {0xc007, make<VAo300C1>, 0}, {0xc008, make<VAo131C1>, 0},
    {0xc009, make<VSo036C1>, 0}, {0xc00a, make<VSo035M1>, 0}, {0xc00b, make<VAo131M1>, 0},
    {0xc00c, make<VS200C1>, 0},  {0xc811, make<VAo200C1>, 0}, {0xd001, make<VDo282C1>, 0},
    {0xd004, make<VDo205M1>, 0}, {0xd006, make<VDo285M1>, 0}, {0xe001, make<VDh282C1>, 0},
    {0xe004, make<VDh205M1>, 0}, {0xe006, make<VDh285M1>, 0}, {0xe008, make<VDh205C1>, 0},
    {0xe009, make<VDh285C1>, 0}, {0xe00a, make<VDh674M1>, 2}, {0xe00b, make<VDh687M1>, 2},
    {0xe00c, make<VDh694M1>, 2}, {0xe80a, make<VDh674C1>, 0}, {0xe80c, make<VDh694C1>, 0},
    {0xf007, make<VAg300C1>, 0}, {0xf008, make<VAg131C1>, 0}, {0xf00b, make<VAg131M1>, 0},
};

// The one product of vendor 0x4b56.
constexpr CreationRow kVendor4b56[] = {
    {0x6401, make<VSi400M1>, 0},
};

struct VendorRow {
    uint16_t vendor;
    const CreationRow* rows;
    size_t count;
};

constexpr VendorRow kVendors[] = {
    {0x0547, kProducts, std::size(kProducts)},
    {0x8020, kProducts, std::size(kProducts)},
    {0x8021, kProducts, std::size(kProducts)},
    {0x4b56, kVendor4b56, std::size(kVendor4b56)},
};
}  // namespace

std::unique_ptr<CamBayer> _create_device(uint16_t product, uint16_t vendor) {
    for (const VendorRow& v : kVendors) {
        if (v.vendor != vendor) continue;
        for (size_t i = 0; i < v.count; ++i) {
            const CreationRow& row = v.rows[i];
            if (row.product != product) continue;
            std::unique_ptr<CamBayer> camera = row.create();
            if (row.bulkPipe) camera->bulkPipe = row.bulkPipe;
            return camera;
        }
        return nullptr;
    }
    return nullptr;
}
