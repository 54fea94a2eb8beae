// The link to one device: opening it, control requests and bulk reads.
#include "camera/device_link.h"

#include <algorithm>

#include "shared_state.h"

DeviceLink::~DeviceLink() {
    interface_.reset();
    if (device_) device_->close();
    device_.reset();
}

int DeviceLink::open(std::shared_ptr<usb::Device> device) {
    if (!device) return EZ_EIO;
    device_ = std::move(device);
    info_ = device_->info();
    if (device_->open() != usb::kSuccess) {
        device_.reset();
        return EZ_EIO;
    }
    device_->reset();
    device_->setFirstConfiguration();
    // Without an interface nothing can be sent; the link stays unusable.
    if (device_->claimFirstInterface() != usb::kSuccess) return EZ_EIO;
    interface_ = device_;
    return EZ_OK;
}

uint32_t DeviceLink::control(EZURB& urb, uint32_t timeoutMs, uint32_t attempts) {
    // A data stage without a buffer would make the transfer touch null.
    if (urb.length > 0 && !urb.data) return usb::kError;
    const std::shared_ptr<usb::Device> device = interface_;
    if (!device) return usb::kNotOpen;
    uint32_t status = usb::kError;
    for (uint32_t attempt = 0; attempt < attempts; ++attempt) {
        status = device->control(urb, timeoutMs);
        if (status == usb::kSuccess) return 0;
        if (status == usb::kStall) device->clearHalt(0);
    }
    return status;
}

int DeviceLink::bulkRead(unsigned char* buffer, int length, int* received, unsigned timeoutMs) {
    const std::shared_ptr<usb::Device> device = interface_;
    const int pipe = static_cast<int>(bulkPipe);
    int got = 0;
    uint32_t status = usb::kNotOpen;
    if (device && buffer && length > 0) {
        status = device->bulkRead(pipe, buffer, length, &got, timeoutMs);
        if (status == usb::kStall) device->clearHalt(pipe);
        // A count outside the request is no transfer the bus could make.
        if (got < 0 || got > length) status = usb::kError;
        got = std::clamp(got, 0, length);
    }
    if (received) *received = got;
    // The bytes of a failed transfer may be a frame cut short: the status
    // goes to the caller with them.
    return status == usb::kSuccess ? EZ_OK : EZ_EIO;
}

bool DeviceLink::needsPauses() const {
    const std::shared_ptr<usb::Device> device = interface_;
    return device && device->needsPauses();
}

int DeviceLink::state() const {
    return shared::load(state_);
}

void DeviceLink::setState(int state) {
    shared::store(state_, state);
}
