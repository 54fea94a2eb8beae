// What the harnesses share: a reader of the fuzzer's bytes, a USB device
// that answers from them, and camera objects of every model the product
// table holds, opened on such a device.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "camera/cam_bayer.h"
#include "models/catalogue.h"
#include "models/products.h"
#include "usb/usb.h"

namespace fuzzing {

// A camera the catalogue drives.
struct Product {
    uint16_t vendor;
    uint16_t product;
};

// The fuzzer's bytes, taken from the front; zeros once they run out.
class Input {
  public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint16_t word() { return static_cast<uint16_t>(byte() | byte() << 8); }
    size_t left() const { return size_ - at_; }
    // Up to n bytes, as a view into the input.
    std::pair<const uint8_t*, size_t> take(size_t n) {
        n = std::min(n, left());
        const uint8_t* p = data_ + at_;
        at_ += n;
        return {p, n};
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// The transfer statuses a device or the host stack can report.
inline uint32_t status(uint8_t choice) {
    static constexpr uint32_t kStatuses[] = {usb::kSuccess, usb::kStall,   usb::kError,
                                             usb::kNoDevice, usb::kTimeout, usb::kOverrun};
    return kStatuses[choice % std::size(kStatuses)];
}

// A device that accepts every request (device-to-host ones receive zeros)
// unless the harness answers them itself, and whose bulk reads the harness
// fills.
struct Device : usb::Device {
    usb::DeviceInfo identity;
    std::function<uint32_t(EZURB&)> answer;  // control requests, when set
    std::function<uint32_t(unsigned char*, int, int*)> bulk;

    Device(Product id, uint16_t release) : identity{id.vendor, id.product, release, 0x0200} {}
    usb::DeviceInfo info() const override { return identity; }
    uint32_t open() override { return usb::kSuccess; }
    uint32_t reset() override { return usb::kSuccess; }
    uint32_t setFirstConfiguration() override { return usb::kSuccess; }
    uint32_t claimFirstInterface() override { return usb::kSuccess; }
    void close() override {}
    uint32_t control(EZURB& urb, unsigned) override {
        if (answer) return answer(urb);
        if ((urb.requestType & 0x80) && urb.data) std::memset(urb.data, 0, urb.length);
        urb.lengthDone = urb.length;
        return usb::kSuccess;
    }
    uint32_t bulkRead(int, unsigned char* buffer, int length, int* received, unsigned) override {
        if (bulk) return bulk(buffer, length, received);
        *received = 0;
        return usb::kTimeout;
    }
    uint32_t clearHalt(int) override { return usb::kSuccess; }
};

// Every product a model drives, under the first of its vendors (the others
// make the same classes again), in the product table's order.
inline const std::vector<Product>& products() {
    static const std::vector<Product> list = [] {
        std::vector<Product> out;
        for (const ProductRow& row : productTable())
            if (row.create) out.push_back({vendorIds(row.vendors).front(), row.product});
        return out;
    }();
    return list;
}

// A device release for the product: one of those its frame layouts and
// claim rows name, or one they do not (so that every layout is reached).
// Releases outside the lists all behave alike; keeping to a few lets the
// cameras below be made once rather than for every run.
inline uint16_t release(const Product& id, Input& in) {
    const uint8_t pick = in.byte();
    const ProductRow* row = findProduct(id.vendor, id.product);
    uint16_t known[16] = {0xa000, 0x0100, 0xa001};
    size_t count = 3;
    const auto note = [&](const ReleaseList& list) {
        for (const uint16_t r : list.releases)
            if (r && count < std::size(known)) known[count++] = r;
    };
    if (row) {
        for (const FrameLayout& layout : row->reader.layouts) note(layout.releases);
        for (const ClaimRow& claim : row->claim) note(claim.releases);
    }
    return known[pick % count];
}

// A camera of that product opened on a fuzzing device of that release.
struct Camera {
    std::shared_ptr<Device> device;
    std::unique_ptr<CamBayer> object;
    Camera(Product id, uint16_t release)
        : device(std::make_shared<Device>(id, release)),
          object(_create_device(id.product, id.vendor)) {
        if (object) object->__open_driver(device);
    }
};

// Cameras are made once per product and release (making one builds its
// lookup tables, which costs more than most runs) and put back into a known
// state before every run: defaults for what a run can change.
inline Camera& camera(size_t product, uint16_t release) {
    static std::map<std::pair<size_t, uint16_t>, Camera> cameras;
    if (cameras.size() >= 256) cameras.clear();
    Camera& made =
        cameras.try_emplace({product, release}, products()[product], release).first->second;
    CamBayer& c = *made.object;
    made.device->answer = nullptr;
    made.device->bulk = nullptr;
    c._set_autoexposure(false);
    c.exposureLoop().reset();
    SensorControl& s = c.sensorControl();
    s.roiRequested = s.roiActive = 0;
    s.resolutionPending = s.pixelClockPending = 0;
    c.pipeline().defects.searchRequest = c.pipeline().defects.correctionOn = 0;
    c.pipeline().defects.count = 0;
    c._set_blackfield_state(false);
    c.fluoGuide().stop();
    c._set_raw_depth(8);
    c._set_resolution(s.resolution.def, true);
    c._default();
    c._set_exposure(10.0f);
    return made;
}

}  // namespace fuzzing
