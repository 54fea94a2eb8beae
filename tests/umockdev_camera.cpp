// The kernel's usbdevfs side of an emulated camera, answering libusb's ioctls
// from umockdev's worker thread with the simulator core behind it.
#include "umockdev_camera.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace umock {

namespace {

std::vector<uint8_t> cameraDescriptors(uint16_t vendor, uint16_t product, uint16_t bcdDevice) {
    auto lo = [](uint16_t v) { return static_cast<uint8_t>(v & 0xff); };
    auto hi = [](uint16_t v) { return static_cast<uint8_t>(v >> 8); };
    return {
        // device: USB 2.0, vendor class, 64-byte control packets, one configuration
        18, 1, 0x00, 0x02, 0xff, 0xff, 0xff, 64, lo(vendor), hi(vendor), lo(product), hi(product),
        lo(bcdDevice), hi(bcdDevice), 0, 0, 0, 1,
        // configuration 1: one interface, 32 bytes in all
        9, 2, 32, 0, 1, 1, 0, 0x80, 50,
        // interface 0, alternate setting 0, two endpoints, vendor class
        9, 4, 0, 0, 2, 0xff, 0xff, 0xff, 0,
        // bulk IN endpoints of 512-byte packets
        7, 5, kEndpoint1, 2, 0x00, 0x02, 0,
        7, 5, kEndpoint2, 2, 0x00, 0x02, 0,
    };
}

std::string hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    char digits[3];
    for (uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", b);
        text += digits;
    }
    return text;
}

// The ioctl argument as the client passed it. Client and handler share the
// address space, so the client's structures are used in place.
template <typename T>
T argument(UMockdevIoctlClient* client) {
    UMockdevIoctlData* data = umockdev_ioctl_client_get_arg(client);
    T value;
    std::memcpy(&value, data->data, sizeof value);
    return value;
}

}  // namespace

Testbed::Testbed() : testbed_(umockdev_testbed_new()) {
    if (!testbed_ || !umockdev_in_mock_environment()) {
        std::fprintf(stderr,
                     "umockdev preload is not active: refusing to run against the machine's USB devices\n");
        std::abort();
    }
}

Testbed::~Testbed() { g_object_unref(testbed_); }

Camera::Camera(Testbed& testbed, int address, uint16_t vendor, uint16_t product, uint16_t bcdDevice,
               Capabilities capabilities)
    : testbed_(testbed),
      address_(address),
      node_([address] {
          char path[32];
          std::snprintf(path, sizeof path, "/dev/bus/usb/001/%03d", address);
          return std::string(path);
      }()),
      syspath_("/sys/devices/usb" + std::to_string(address)),
      descriptors_(cameraDescriptors(vendor, product, bcdDevice)),
      capabilities_(capabilities),
      sim_(std::make_unique<sim::SimCamera>(address, vendor, product, bcdDevice)),
      handler_(umockdev_ioctl_base_new()) {
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&Camera::onIoctl), this);
    // May run on umockdev's thread inside the handler: no lock here.
    sim_->onUnplug([this] { gone_ = true; });
}

Camera::~Camera() {
    if (plugged_) umockdev_testbed_detach_ioctl(testbed_.get(), node_.c_str(), nullptr);
    g_object_unref(handler_);
}

void Camera::plug() {
    // The handler must be in place before libusb can learn of the node.
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_.get(), node_.c_str(), handler_, &error)) {
        std::fprintf(stderr, "cannot attach the ioctl handler: %s\n", error ? error->message : "?");
        std::abort();
    }
    char number[8];
    std::snprintf(number, sizeof number, "%03d", address_);
    std::string record = "P: /devices/usb" + std::to_string(address_) + "\n" +
                         "N: " + node_.substr(5) + "\n"
                         "E: SUBSYSTEM=usb\n"
                         "E: DEVTYPE=usb_device\n"
                         "E: DRIVER=usb\n"
                         "E: BUSNUM=001\n"
                         "E: DEVNUM=" + number + "\n"
                         "E: DEVNAME=" + node_ + "\n"
                         "A: busnum=1\\n\n"
                         "A: devnum=" + std::to_string(address_) + "\\n\n"
                         "A: bConfigurationValue=1\\n\n"
                         "A: speed=480\\n\n"
                         "H: descriptors=" + hex(descriptors_) + "\n";
    if (!umockdev_testbed_add_from_string(testbed_.get(), record.c_str(), &error)) {
        std::fprintf(stderr, "cannot add the device: %s\n", error ? error->message : "?");
        std::abort();
    }
    {
        std::lock_guard lock(mutex_);
        plugged_ = true;
    }
    // Announce it once every attribute is written; a second "add" for a
    // device libusb already knows is ignored.
    umockdev_testbed_uevent(testbed_.get(), syspath_.c_str(), "add");
}

void Camera::unplug() {
    gone_ = true;
    sim_->unplug();
    // The uevent is built from the device's sysfs entry, so it goes out
    // before the entry is removed.
    umockdev_testbed_uevent(testbed_.get(), syspath_.c_str(), "remove");
}

void Camera::halt(uint8_t endpoint) {
    std::lock_guard lock(mutex_);
    halted_.push_back(endpoint);
}

void Camera::bindKernelDriver(bool bound) {
    std::lock_guard lock(mutex_);
    driverBound_ = bound;
}

Camera::Stats Camera::stats() {
    std::lock_guard lock(mutex_);
    Stats stats = stats_;
    stats.pendingUrbs = static_cast<int>(pending_.size());
    return stats;
}

int Camera::pipeOf(uint8_t endpoint) const {
    if (endpoint == kEndpoint1) return 1;
    if (endpoint == kEndpoint2) return 2;
    return 0;
}

gboolean Camera::onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    static_cast<Camera*>(self)->handle(client);
    return TRUE;
}

// Never blocks: umockdev serves every client from this one thread, and the
// emulated node always polls ready, so libusb simply reaps again later.
void Camera::handle(UMockdevIoctlClient* client) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    void* arg = argument<void*>(client);
    std::lock_guard lock(mutex_);

    if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) {
        reap(client, arg);
        return;
    }
    if (gone_) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return;
    }

    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        uint32_t caps = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
        if (capabilities_.scatterGather) caps |= USBDEVFS_CAP_BULK_SCATTER_GATHER | USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
        std::memcpy(arg, &caps, sizeof caps);
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    }
    case USBDEVFS_GETDRIVER: {
        auto* query = static_cast<usbdevfs_getdriver*>(arg);
        if (query->interface != 0 || !driverBound_) {
            umockdev_ioctl_client_complete(client, -1, ENODATA);
            return;
        }
        std::snprintf(query->driver, sizeof query->driver, "%s", "usbfs-holder");
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    }
    case USBDEVFS_IOCTL: {
        auto* command = static_cast<usbdevfs_ioctl*>(arg);
        if (command->ifno != 0 || command->ioctl_code != USBDEVFS_DISCONNECT || !driverBound_) {
            umockdev_ioctl_client_complete(client, -1, ENODATA);
            return;
        }
        driverBound_ = false;
        ++stats_.driverDisconnects;
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    }
    case USBDEVFS_CLAIMINTERFACE: {
        unsigned number = *static_cast<unsigned*>(arg);
        if (number != 0) {
            umockdev_ioctl_client_complete(client, -1, ENOENT);
        } else if (driverBound_) {
            umockdev_ioctl_client_complete(client, -1, EBUSY);
        } else {
            stats_.claimedInterface = 0;
            umockdev_ioctl_client_complete(client, 0, 0);
        }
        return;
    }
    case USBDEVFS_RELEASEINTERFACE:
        stats_.claimedInterface = -1;
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    case USBDEVFS_SETINTERFACE: {
        auto* setting = static_cast<usbdevfs_setinterface*>(arg);
        if (setting->interface != 0 || setting->altsetting != 0 || stats_.claimedInterface != 0) {
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return;
        }
        stats_.altSetting = 0;
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    }
    case USBDEVFS_SETCONFIGURATION:
        ++stats_.setConfigurations;
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    case USBDEVFS_RESET:
        ++stats_.resets;
        halted_.clear();
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    case USBDEVFS_CLEAR_HALT: {
        auto endpoint = static_cast<uint8_t>(*static_cast<unsigned*>(arg));
        stats_.clearedHalts.push_back(endpoint);
        halted_.erase(std::remove(halted_.begin(), halted_.end(), endpoint), halted_.end());
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    }
    case USBDEVFS_SUBMITURB: {
        auto* urb = static_cast<usbdevfs_urb*>(arg);
        bool control = urb->type == USBDEVFS_URB_TYPE_CONTROL && urb->endpoint == 0 && urb->buffer_length >= 8;
        bool bulk = urb->type == USBDEVFS_URB_TYPE_BULK && pipeOf(urb->endpoint) != 0;
        if (!control && !bulk) {
            umockdev_ioctl_client_complete(client, -1, ENOENT);
            return;
        }
        if (bulk) stats_.bulkEndpoints.push_back(urb->endpoint);
        urb->status = -EINPROGRESS;
        urb->actual_length = 0;
        pending_.push_back(Pending{urb, 0});
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    }
    case USBDEVFS_DISCARDURB: {
        // Only a URB still waiting for the device can be taken back.
        auto it = std::find_if(pending_.begin(), pending_.end(),
                               [arg](const Pending& p) { return p.urb == arg && p.status == 0; });
        if (it == pending_.end()) {
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return;
        }
        it->status = -ENOENT;
        // The host gave up on a read: the device saw it time out.
        if (it->urb->type == USBDEVFS_URB_TYPE_BULK) sim_->bulkTimedOut(pipeOf(it->urb->endpoint), it->urb->buffer_length);
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    }
    default:
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
        return;
    }
}

// Hands back the first URB that can finish now; URBs of one endpoint finish
// in submission order.
void Camera::reap(UMockdevIoctlClient* client, void* argument) {
    std::vector<uint8_t> busy;
    for (auto it = pending_.begin(); it != pending_.end(); ++it) {
        usbdevfs_urb* urb = it->urb;
        if (std::find(busy.begin(), busy.end(), urb->endpoint) != busy.end()) continue;
        if (it->status != 0) {
            urb->status = it->status;
        } else if (gone_) {
            urb->status = -ESHUTDOWN;
        } else if (!complete(urb)) {
            busy.push_back(urb->endpoint);
            continue;
        }
        // A short URB of a split read ends it: the kernel cancels the URBs
        // that continue it.
        if (urb->status == -EREMOTEIO) {
            for (auto next = std::next(it); next != pending_.end(); ++next) {
                if (next->urb->endpoint != urb->endpoint) continue;
                if (!(next->urb->flags & USBDEVFS_URB_BULK_CONTINUATION)) break;
                if (next->status == 0) next->status = -ECONNRESET;
            }
        }
        pending_.erase(it);
        *static_cast<usbdevfs_urb**>(argument) = urb;
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    }
    umockdev_ioctl_client_complete(client, -1, gone_ ? ENODEV : EAGAIN);
}

// Runs one URB against the simulator; false while it has to wait.
bool Camera::complete(usbdevfs_urb* urb) {
    auto* buffer = static_cast<unsigned char*>(urb->buffer);
    if (std::find(halted_.begin(), halted_.end(), urb->endpoint) != halted_.end()) {
        urb->status = -EPIPE;
        return true;
    }
    if (urb->type == USBDEVFS_URB_TYPE_CONTROL) {
        // The setup packet comes first; the kernel reports the data stage.
        EZURB request{};
        request.requestType = buffer[0];
        request.request = buffer[1];
        request.value = static_cast<uint16_t>(buffer[2] | buffer[3] << 8);
        request.index = static_cast<uint16_t>(buffer[4] | buffer[5] << 8);
        request.length = static_cast<uint16_t>(buffer[6] | buffer[7] << 8);
        if (request.length > urb->buffer_length - 8) {
            urb->status = -EOVERFLOW;
            return true;
        }
        request.data = request.length ? buffer + 8 : nullptr;
        uint32_t status = sim_->control(request);
        urb->status = status == usb::kSuccess    ? 0
                      : status == usb::kStall    ? -EPIPE
                      : status == usb::kNoDevice ? -ESHUTDOWN
                                                 : -EPROTO;
        urb->actual_length = status == usb::kSuccess ? static_cast<int>(request.lengthDone) : 0;
        return true;
    }
    // "Ready now" is the simulator's own clock reading: look at ours after it.
    const auto readyAt = sim_->frameReadyAt();
    if (readyAt > std::chrono::steady_clock::now()) return false;
    int received = 0;
    uint32_t status = sim_->bulkRead(pipeOf(urb->endpoint), buffer, urb->buffer_length, &received);
    if (status == usb::kTimeout) return false;  // nothing to send yet: the endpoint NAKs
    if (status == usb::kStall) {
        urb->status = -EPIPE;
    } else if (status == usb::kNoDevice) {
        // Vanished in the middle of the read: what came before stays.
        urb->actual_length = received;
        urb->status = -ESHUTDOWN;
    } else if (status != usb::kSuccess) {
        urb->status = -EPROTO;
    } else {
        urb->actual_length = received;
        // A short URB that is not the last of a split transfer ends it.
        bool shortNotOk = (urb->flags & USBDEVFS_URB_SHORT_NOT_OK) != 0;
        urb->status = shortNotOk && received < urb->buffer_length ? -EREMOTEIO : 0;
    }
    return true;
}

}  // namespace umock
