// USB transport: opening the device, control requests, bulk reads, and
// starting and stopping the sensor.
#include <chrono>
#include <cmath>
#include <thread>

#include "CamBayer.h"
#include "log.h"

namespace {
constexpr uint16_t kTriggerRelease = 0xb002;  // the only hardware with a trigger query
}

int CamBayer::__open_driver(std::shared_ptr<usb::Device> device) {
    auto lock = lockSettings();
    if (!device) return EZ_EIO;
    usbDevice = std::move(device);
    const usb::DeviceInfo info = usbDevice->info();
    idProduct = info.product;
    idVendor = info.vendor;
    bcdDevice = info.bcdDevice;
    bcdUsb = info.bcdUsb;
    quirks = productQuirks(idVendor, idProduct);

    if (usbDevice->open() != usb::kSuccess) {
        usbDevice.reset();
        return EZ_EIO;
    }
    usbDevice->reset();
    usbDevice->setFirstConfiguration();
    // Without an interface nothing can be sent; the object stays unusable.
    if (usbDevice->claimFirstInterface() != usb::kSuccess) return EZ_EIO;
    usbInterface = usbDevice;

    _claim_device();
    if (quirks.skipsVersionAtOpen) {
        ezlog::info("%0x %0x", idProduct, idVendor);
    } else {
        int version = 0;
        _versions(&version);
        firmwareVersion = version;
    }
    return EZ_OK;
}

int CamBayer::_sumbit_ctl_urb(uint32_t timeout, uint32_t attempts, EZURB* urb) {
    // A data stage without a buffer would make the transfer touch null.
    if (!urb || (urb->length > 0 && !urb->data)) return static_cast<int>(usb::kError);
    const std::shared_ptr<usb::Device> device = usbInterface;
    if (!device) return static_cast<int>(usb::kNotOpen);
    uint32_t status = usb::kError;
    for (uint32_t attempt = 0; attempt < attempts; ++attempt) {
        status = device->control(*urb, timeout);
        if (status == usb::kSuccess) return 0;
        if (status == usb::kStall) device->clearHalt(0);
    }
    return static_cast<int>(status);
}

unsigned CamBayer::readTimeoutMs() {
    // Twice the exposure plus two seconds, capped at a day.
    double milliseconds = _exposure();
    if (!(milliseconds >= 0.0)) milliseconds = 0.0;
    return static_cast<unsigned>(std::min(2000.0 + 2.0 * milliseconds, 86400000.0));
}

int CamBayer::_read_bulk_data(unsigned char* buffer, int length, int* received) {
    std::shared_ptr<usb::Device> device;
    int pipe = 1;
    unsigned timeout = 0;
    {
        auto lock = lockSettings();
        device = usbInterface;
        pipe = static_cast<int>(bulkPipe);
        timeout = readTimeoutMs();
    }
    int got = 0;
    uint32_t status = usb::kNotOpen;
    if (device && buffer && length > 0) {
        status = device->bulkRead(pipe, buffer, length, &got, timeout);
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

// A real sensor needs the pauses the protocol asks for (after a start, a
// stop, a mode change); a simulated one does not, so it is not slowed down.
int CamBayer::_delay(int milliseconds) {
    const std::shared_ptr<usb::Device> device = usbInterface;
    if (milliseconds > 0 && device && device->needsPauses())
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return EZ_OK;
}

int CamBayer::_sensor_suspend() {
    EZURB stop{};
    buildRequest(stop, 0xbb, 0, 0);
    sendRequest(stop);
    shared::store(state, 0);
    return EZ_OK;
}

int CamBayer::_extern_snap() {
    if (bcdDevice != kTriggerRelease) return 0;
    unsigned char reply[64] = {};
    uint32_t received = 0;
    readStatus(reply, &received);
    return reply[2] == 0xcc ? 1 : 0;
}

int CamBayer::readStatus(unsigned char (&reply)[64], uint32_t* received) {
    EZURB query{};
    query.requestType = 0xc0;
    query.request = 0xb6;
    query.value = 0;
    query.index = 1;
    query.length = sizeof reply;
    query.data = reply;
    const int status = _sumbit_ctl_urb(1000, 1, &query);
    if (received) *received = query.lengthDone;
    return status;
}
