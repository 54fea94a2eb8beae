// The libusb implementation of the USB access layer: devices with
// synchronous transfers that close() and unplugging can interrupt, and a bus
// whose hot-plug events are queued by a background thread and delivered by
// poll() on the owner's thread.
#include "usb/libusb_bus.h"

#include <libusb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <iterator>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "usb/libusb_internal.h"

namespace usb {

uint32_t statusFromLibusbError(int error) {
    switch (error) {
    case LIBUSB_SUCCESS:
        return kSuccess;
    case LIBUSB_ERROR_PIPE:
        return kStall;
    case LIBUSB_ERROR_NO_DEVICE:
    case LIBUSB_ERROR_NOT_FOUND:
        return kNoDevice;
    case LIBUSB_ERROR_TIMEOUT:
        return kTimeout;
    case LIBUSB_ERROR_OVERFLOW:
        return kOverrun;
    default:
        return kError;
    }
}

uint32_t statusFromTransferStatus(int status) {
    switch (status) {
    case LIBUSB_TRANSFER_COMPLETED:
        return kSuccess;
    case LIBUSB_TRANSFER_STALL:
        return kStall;
    case LIBUSB_TRANSFER_NO_DEVICE:
        return kNoDevice;
    case LIBUSB_TRANSFER_TIMED_OUT:
        return kTimeout;
    case LIBUSB_TRANSFER_OVERFLOW:
        return kOverrun;
    default:
        return kError;
    }
}

namespace {

// An owned reference to a libusb_device.
class DeviceRef {
public:
    DeviceRef() = default;
    explicit DeviceRef(libusb_device* device) : device_(device ? libusb_ref_device(device) : nullptr) {}
    DeviceRef(const DeviceRef& other) : DeviceRef(other.device_) {}
    DeviceRef(DeviceRef&& other) noexcept : device_(std::exchange(other.device_, nullptr)) {}
    DeviceRef& operator=(DeviceRef other) noexcept {
        std::swap(device_, other.device_);
        return *this;
    }
    ~DeviceRef() {
        if (device_) libusb_unref_device(device_);
    }
    libusb_device* get() const { return device_; }

private:
    libusb_device* device_ = nullptr;
};

struct TransferDeleter {
    void operator()(libusb_transfer* transfer) const { libusb_free_transfer(transfer); }
};
using TransferPtr = std::unique_ptr<libusb_transfer, TransferDeleter>;

struct ConfigDeleter {
    void operator()(libusb_config_descriptor* config) const { libusb_free_config_descriptor(config); }
};
using ConfigPtr = std::unique_ptr<libusb_config_descriptor, ConfigDeleter>;

// libusb waits forever on a zero time-out; no transfer of ours may.
unsigned boundedTimeout(unsigned timeoutMs) { return timeoutMs == 0 ? 1 : timeoutMs; }

class LibusbDevice;

// The libusb context with its background thread, the devices present on the
// bus, the watches and the queue of pending events. Devices share it, so the
// context outlives every device handle; the hot-plug callback points at it.
class Hub : public std::enable_shared_from_this<Hub> {
public:
    static std::shared_ptr<Hub> create(Discovery discovery, int scanIntervalMs);
    Hub(libusb_context* context, int scanIntervalMs) : context_(context), scanInterval_(scanIntervalMs) {}
    ~Hub();

    libusb_context* context() const { return context_; }

    void watchArrivals(uint16_t vendor, uint16_t product, Bus::ArrivalHandler onArrival);
    void watchRemoval(libusb_device* device, Bus::RemovalHandler onRemoval);
    void clearWatches();
    int poll(int timeoutMs);

private:
    struct Event {
        bool arrival = false;
        uint64_t watch = 0;  // arrivals: the watch to call
        DeviceRef device;
    };
    struct ArrivalWatch {
        uint16_t vendor;
        uint16_t product;
        Bus::ArrivalHandler handler;
    };
    struct RemovalWatch {
        DeviceRef device;
        Bus::RemovalHandler handler;
    };

    bool start(Discovery discovery);
    void run();
    void scan();
    void arrived(libusb_device* device);
    void left(libusb_device* device);
    bool removalPending(libusb_device* device) const;
    bool deliverNext(int& handled);
    static int LIBUSB_CALL onHotplug(libusb_context*, libusb_device* device, libusb_hotplug_event event,
                                     void* hub);

    libusb_context* context_;
    const int scanInterval_;
    bool hotplug_ = false;
    libusb_hotplug_callback_handle callback_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};

    mutable std::mutex mutex_;
    std::condition_variable wake_;  // an event was queued, or the thread must stop
    std::map<libusb_device*, std::pair<DeviceRef, DeviceInfo>> present_;
    std::map<uint64_t, ArrivalWatch> arrivalWatches_;
    std::vector<RemovalWatch> removalWatches_;
    std::deque<Event> events_;
    uint64_t nextWatch_ = 1;
};

// One device behind libusb. Every operation that uses the handle counts
// itself in users_; close() cancels the transfers in flight and waits for
// the count to drop before it closes the handle.
class LibusbDevice final : public Device {
public:
    LibusbDevice(std::shared_ptr<Hub> hub, libusb_device* device);
    ~LibusbDevice() override;

    DeviceInfo info() const override { return info_; }
    libusb_device* raw() const { return device_.get(); }
    const Hub* hub() const { return hub_.get(); }

    uint32_t open() override;
    uint32_t reset() override;
    uint32_t setFirstConfiguration() override;
    uint32_t claimFirstInterface() override;
    void close() override;
    uint32_t control(EZURB& urb, unsigned timeoutMs) override;
    uint32_t bulkRead(int pipe, unsigned char* buffer, int length, int* received, unsigned timeoutMs) override;
    uint32_t clearHalt(int pipe) override;
    bool needsPauses() const override { return true; }

private:
    struct Endpoint {
        uint8_t address = 0;
        uint8_t attributes = 0;
    };

    // The handle, held open for the duration of one operation.
    class Use {
    public:
        explicit Use(LibusbDevice& device) : device_(device) {
            std::lock_guard lock(device_.mutex_);
            if (device_.handle_ && !device_.closing_) {
                handle_ = device_.handle_;
                ++device_.users_;
            }
        }
        ~Use() {
            if (!handle_) return;
            std::lock_guard lock(device_.mutex_);
            if (--device_.users_ == 0) device_.idle_.notify_all();
        }
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;
        libusb_device_handle* handle() const { return handle_; }

    private:
        LibusbDevice& device_;
        libusb_device_handle* handle_ = nullptr;
    };

    uint32_t run(libusb_transfer* transfer);
    static void LIBUSB_CALL onDone(libusb_transfer* transfer);

    std::shared_ptr<Hub> hub_;
    DeviceRef device_;
    DeviceInfo info_;

    std::mutex mutex_;
    std::condition_variable idle_;
    libusb_device_handle* handle_ = nullptr;
    bool closing_ = false;
    int users_ = 0;
    std::vector<libusb_transfer*> inflight_;
    int interface_ = -1;
    bool reattachDriver_ = false;
    Endpoint endpoints_[2];  // pipes 1 and 2
};

// ---------------------------------------------------------------- Hub

std::shared_ptr<Hub> Hub::create(Discovery discovery, int scanIntervalMs) {
    libusb_context* context = nullptr;
    if (libusb_init(&context) != LIBUSB_SUCCESS) return nullptr;
    auto hub = std::make_shared<Hub>(context, std::max(scanIntervalMs, 10));
    if (!hub->start(discovery)) return nullptr;
    return hub;
}

bool Hub::start(Discovery discovery) {
    hotplug_ = discovery == Discovery::kAuto && libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG);
    if (hotplug_) {
        // Devices already present arrive during the registration.
        int r = libusb_hotplug_register_callback(
            context_,
            static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
            LIBUSB_HOTPLUG_ENUMERATE, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
            &Hub::onHotplug, this, &callback_);
        if (r != LIBUSB_SUCCESS) hotplug_ = false;
    }
    if (!hotplug_) scan();
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

Hub::~Hub() {
    stop_ = true;
    if (thread_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            wake_.notify_all();
        }
        libusb_interrupt_event_handler(context_);
        thread_.join();
    }
    if (hotplug_) libusb_hotplug_deregister_callback(context_, callback_);
    // Drop every device reference before the context goes.
    events_.clear();
    removalWatches_.clear();
    present_.clear();
    libusb_exit(context_);
}

void Hub::run() {
    while (!stop_) {
        if (hotplug_) {
            // Hot-plug callbacks and completions of other threads' transfers
            // run in here; the time-out only bounds a missed interruption.
            timeval tv{1, 0};
            libusb_handle_events_timeout_completed(context_, &tv, nullptr);
        } else {
            std::unique_lock lock(mutex_);
            wake_.wait_for(lock, std::chrono::milliseconds(scanInterval_), [this] { return stop_.load(); });
            lock.unlock();
            if (!stop_) scan();
        }
    }
}

// Without hot-plug: compare the device list with the devices known present.
void Hub::scan() {
    libusb_device** list = nullptr;
    ssize_t count = libusb_get_device_list(context_, &list);
    if (count < 0) return;
    std::vector<libusb_device*> current(list, list + count);
    std::vector<libusb_device*> gone;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [device, entry] : present_)
            if (std::find(current.begin(), current.end(), device) == current.end()) gone.push_back(device);
    }
    for (libusb_device* device : gone) left(device);
    for (libusb_device* device : current) arrived(device);
    libusb_free_device_list(list, 1);
}

int LIBUSB_CALL Hub::onHotplug(libusb_context*, libusb_device* device, libusb_hotplug_event event, void* hub) {
    // Runs in whichever thread handles libusb events: only queue here.
    if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED)
        static_cast<Hub*>(hub)->arrived(device);
    else if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT)
        static_cast<Hub*>(hub)->left(device);
    return 0;
}

void Hub::arrived(libusb_device* device) {
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS) return;
    DeviceInfo info;
    info.vendor = descriptor.idVendor;
    info.product = descriptor.idProduct;
    info.bcdDevice = descriptor.bcdDevice;
    info.bcdUsb = descriptor.bcdUSB;

    DeviceRef ref(device);
    std::lock_guard lock(mutex_);
    if (!present_.emplace(device, std::make_pair(ref, info)).second) return;
    bool queued = false;
    for (const auto& [id, watch] : arrivalWatches_) {
        if (watch.vendor != info.vendor || watch.product != info.product) continue;
        events_.push_back(Event{true, id, ref});
        queued = true;
    }
    if (queued) wake_.notify_all();
}

void Hub::left(libusb_device* device) {
    DeviceRef ref(device);
    DeviceRef released;  // the presence reference, dropped after unlocking
    std::lock_guard lock(mutex_);
    auto it = present_.find(device);
    if (it != present_.end()) {
        released = std::move(it->second.first);
        present_.erase(it);
    }
    events_.push_back(Event{false, 0, std::move(ref)});
    wake_.notify_all();
}

bool Hub::removalPending(libusb_device* device) const {
    return std::any_of(events_.begin(), events_.end(),
                       [device](const Event& e) { return !e.arrival && e.device.get() == device; });
}

void Hub::watchArrivals(uint16_t vendor, uint16_t product, Bus::ArrivalHandler onArrival) {
    std::lock_guard lock(mutex_);
    uint64_t id = nextWatch_++;
    arrivalWatches_.emplace(id, ArrivalWatch{vendor, product, std::move(onArrival)});
    for (const auto& [device, entry] : present_) {
        if (entry.second.vendor == vendor && entry.second.product == product)
            events_.push_back(Event{true, id, entry.first});
    }
    wake_.notify_all();
}

void Hub::watchRemoval(libusb_device* device, Bus::RemovalHandler onRemoval) {
    std::lock_guard lock(mutex_);
    removalWatches_.push_back(RemovalWatch{DeviceRef(device), std::move(onRemoval)});
    // A device that left before the watch was set still reports its removal.
    if (!present_.count(device) && !removalPending(device)) {
        events_.push_back(Event{false, 0, DeviceRef(device)});
        wake_.notify_all();
    }
}

void Hub::clearWatches() {
    std::vector<RemovalWatch> removed;
    std::deque<Event> dropped;
    std::lock_guard lock(mutex_);
    arrivalWatches_.clear();
    removed.swap(removalWatches_);
    dropped.swap(events_);
}

int Hub::poll(int timeoutMs) {
    {
        std::unique_lock lock(mutex_);
        if (events_.empty() && timeoutMs > 0)
            wake_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !events_.empty(); });
    }
    // Handlers may add or clear watches, which can queue further events;
    // those are handled in this call too.
    int handled = 0;
    while (deliverNext(handled)) {
    }
    return handled;
}

// Takes the oldest event and calls its handlers unlocked; device references
// are dropped unlocked too. False when nothing was queued.
bool Hub::deliverNext(int& handled) {
    Event event;
    Bus::ArrivalHandler arrival;
    std::vector<RemovalWatch> fired;
    {
        std::lock_guard lock(mutex_);
        if (events_.empty()) return false;
        event = std::move(events_.front());
        events_.pop_front();
        if (event.arrival) {
            auto watch = arrivalWatches_.find(event.watch);
            if (watch != arrivalWatches_.end()) arrival = watch->second.handler;
        } else {
            auto matches = [&](const RemovalWatch& w) { return w.device.get() == event.device.get(); };
            auto split = std::stable_partition(removalWatches_.begin(), removalWatches_.end(),
                                               [&](const RemovalWatch& w) { return !matches(w); });
            std::move(split, removalWatches_.end(), std::back_inserter(fired));
            removalWatches_.erase(split, removalWatches_.end());
        }
    }
    if (arrival) {
        arrival(std::make_shared<LibusbDevice>(shared_from_this(), event.device.get()));
        ++handled;
    }
    for (const RemovalWatch& watch : fired) {
        watch.handler();
        ++handled;
    }
    return true;
}

// ---------------------------------------------------------------- LibusbDevice

LibusbDevice::LibusbDevice(std::shared_ptr<Hub> hub, libusb_device* device)
    : hub_(std::move(hub)), device_(device) {
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) == LIBUSB_SUCCESS) {
        info_.vendor = descriptor.idVendor;
        info_.product = descriptor.idProduct;
        info_.bcdDevice = descriptor.bcdDevice;
        info_.bcdUsb = descriptor.bcdUSB;
    }
}

LibusbDevice::~LibusbDevice() { close(); }

uint32_t LibusbDevice::open() {
    std::lock_guard lock(mutex_);
    if (handle_) return kSuccess;
    if (closing_) return kNotOpen;
    return statusFromLibusbError(libusb_open(device_.get(), &handle_));
}

uint32_t LibusbDevice::reset() {
    Use use(*this);
    if (!use.handle()) return kNotOpen;
    return statusFromLibusbError(libusb_reset_device(use.handle()));
}

uint32_t LibusbDevice::setFirstConfiguration() {
    Use use(*this);
    if (!use.handle()) return kNotOpen;
    libusb_config_descriptor* raw = nullptr;
    int r = libusb_get_config_descriptor(device_.get(), 0, &raw);
    if (r != LIBUSB_SUCCESS) return statusFromLibusbError(r);
    int wanted = ConfigPtr(raw)->bConfigurationValue;
    // Selecting the active configuration again would reset the device's
    // endpoints, and fails while a kernel driver holds an interface.
    int active = -1;
    if (libusb_get_configuration(use.handle(), &active) == LIBUSB_SUCCESS && active == wanted) return kSuccess;
    return statusFromLibusbError(libusb_set_configuration(use.handle(), wanted));
}

uint32_t LibusbDevice::claimFirstInterface() {
    Use use(*this);
    if (!use.handle()) return kNotOpen;
    libusb_config_descriptor* raw = nullptr;
    int r = libusb_get_active_config_descriptor(device_.get(), &raw);
    if (r != LIBUSB_SUCCESS) return statusFromLibusbError(r);
    ConfigPtr config(raw);
    if (config->bNumInterfaces == 0 || !config->interface) return kError;
    const libusb_interface& first = config->interface[0];
    const libusb_interface_descriptor* setting = nullptr;
    for (int i = 0; i < first.num_altsetting; ++i) {
        if (first.altsetting[i].bAlternateSetting == 0) {
            setting = &first.altsetting[i];
            break;
        }
    }
    if (!setting) return kError;
    int number = setting->bInterfaceNumber;

    bool detached = false;
    if (libusb_kernel_driver_active(use.handle(), number) == 1) {
        r = libusb_detach_kernel_driver(use.handle(), number);
        if (r != LIBUSB_SUCCESS) return statusFromLibusbError(r);
        detached = true;
    }
    r = libusb_claim_interface(use.handle(), number);
    if (r != LIBUSB_SUCCESS) {
        if (detached) libusb_attach_kernel_driver(use.handle(), number);
        return statusFromLibusbError(r);
    }
    {
        std::lock_guard lock(mutex_);
        interface_ = number;
        reattachDriver_ = detached;
        for (int i = 0; i < 2; ++i) {
            endpoints_[i] = Endpoint{};
            if (i < setting->bNumEndpoints) {
                endpoints_[i].address = setting->endpoint[i].bEndpointAddress;
                endpoints_[i].attributes = setting->endpoint[i].bmAttributes;
            }
        }
    }
    return statusFromLibusbError(libusb_set_interface_alt_setting(use.handle(), number, 0));
}

void LibusbDevice::close() {
    std::unique_lock lock(mutex_);
    if (!handle_ || closing_) return;
    closing_ = true;
    // Frees threads waiting in a transfer (a bulk read may wait long).
    for (libusb_transfer* transfer : inflight_) libusb_cancel_transfer(transfer);
    idle_.wait(lock, [this] { return users_ == 0; });
    libusb_device_handle* handle = std::exchange(handle_, nullptr);
    int number = std::exchange(interface_, -1);
    bool reattach = std::exchange(reattachDriver_, false);
    lock.unlock();

    if (number >= 0) {
        libusb_release_interface(handle, number);
        if (reattach) libusb_attach_kernel_driver(handle, number);
    }
    libusb_close(handle);

    lock.lock();
    closing_ = false;
    for (Endpoint& endpoint : endpoints_) endpoint = Endpoint{};
}

// libusb reads the flag under its own lock; our side of it is atomic.
void LIBUSB_CALL LibusbDevice::onDone(libusb_transfer* transfer) {
    std::atomic_ref<int>(*static_cast<int*>(transfer->user_data)).store(1);
}

// Submits a filled transfer and waits for its completion, handling libusb
// events meanwhile as libusb's own synchronous calls do; unlike those, the
// transfer is known to close(), which can cancel it.
uint32_t LibusbDevice::run(libusb_transfer* transfer) {
    alignas(std::atomic_ref<int>::required_alignment) int done = 0;
    transfer->callback = &LibusbDevice::onDone;
    transfer->user_data = &done;
    {
        std::lock_guard lock(mutex_);
        if (closing_) return kNotOpen;
        int r = libusb_submit_transfer(transfer);
        if (r != LIBUSB_SUCCESS) return statusFromLibusbError(r);
        inflight_.push_back(transfer);
    }
    libusb_context* context = hub_->context();
    while (!std::atomic_ref<int>(done).load()) {
        int r = libusb_handle_events_completed(context, &done);
        if (r < 0 && r != LIBUSB_ERROR_INTERRUPTED) libusb_cancel_transfer(transfer);
    }
    std::lock_guard lock(mutex_);
    inflight_.erase(std::find(inflight_.begin(), inflight_.end(), transfer));
    if (transfer->status == LIBUSB_TRANSFER_CANCELLED && closing_) return kNotOpen;
    return statusFromTransferStatus(transfer->status);
}

uint32_t LibusbDevice::control(EZURB& urb, unsigned timeoutMs) {
    urb.lengthDone = 0;
    if (urb.length > 0 && !urb.data) return kError;
    Use use(*this);
    if (!use.handle()) return kNotOpen;
    TransferPtr transfer(libusb_alloc_transfer(0));
    if (!transfer) return kError;

    const bool in = urb.requestType & LIBUSB_ENDPOINT_IN;
    std::vector<unsigned char> buffer(LIBUSB_CONTROL_SETUP_SIZE + urb.length);
    libusb_fill_control_setup(buffer.data(), urb.requestType, urb.request, urb.value, urb.index, urb.length);
    if (!in && urb.length > 0) std::memcpy(buffer.data() + LIBUSB_CONTROL_SETUP_SIZE, urb.data, urb.length);
    libusb_fill_control_transfer(transfer.get(), use.handle(), buffer.data(), nullptr, nullptr,
                                 boundedTimeout(timeoutMs));

    uint32_t status = run(transfer.get());
    int moved = std::clamp(transfer->actual_length, 0, static_cast<int>(urb.length));
    if (in && moved > 0) std::memcpy(urb.data, buffer.data() + LIBUSB_CONTROL_SETUP_SIZE, moved);
    urb.lengthDone = static_cast<uint32_t>(moved);
    return status;
}

uint32_t LibusbDevice::bulkRead(int pipe, unsigned char* buffer, int length, int* received, unsigned timeoutMs) {
    if (received) *received = 0;
    if (pipe < 1 || pipe > 2 || length < 0 || (!buffer && length > 0)) return kError;
    Use use(*this);
    if (!use.handle()) return kNotOpen;
    Endpoint endpoint;
    {
        std::lock_guard lock(mutex_);
        endpoint = endpoints_[pipe - 1];
    }
    // Pipe numbers follow the claimed interface's endpoints; only an IN
    // endpoint can be read.
    if (endpoint.address == 0 || !(endpoint.address & LIBUSB_ENDPOINT_IN)) return kError;
    if (length == 0) return kSuccess;
    TransferPtr transfer(libusb_alloc_transfer(0));
    if (!transfer) return kError;
    if ((endpoint.attributes & LIBUSB_TRANSFER_TYPE_MASK) == LIBUSB_ENDPOINT_TRANSFER_TYPE_INTERRUPT)
        libusb_fill_interrupt_transfer(transfer.get(), use.handle(), endpoint.address, buffer, length, nullptr,
                                       nullptr, boundedTimeout(timeoutMs));
    else
        libusb_fill_bulk_transfer(transfer.get(), use.handle(), endpoint.address, buffer, length, nullptr, nullptr,
                                  boundedTimeout(timeoutMs));
    uint32_t status = run(transfer.get());
    if (received) *received = std::clamp(transfer->actual_length, 0, length);
    return status;
}

uint32_t LibusbDevice::clearHalt(int pipe) {
    // A stall on the control pipe ends with the next setup packet, so pipe 0
    // needs no request (some devices even stall a clear-feature on it).
    if (pipe == 0) return kSuccess;
    if (pipe < 1 || pipe > 2) return kError;
    Use use(*this);
    if (!use.handle()) return kNotOpen;
    uint8_t address;
    {
        std::lock_guard lock(mutex_);
        address = endpoints_[pipe - 1].address;
    }
    if (address == 0) return kError;
    return statusFromLibusbError(libusb_clear_halt(use.handle(), address));
}

// ---------------------------------------------------------------- LibusbBus

class LibusbBus final : public Bus {
public:
    explicit LibusbBus(std::shared_ptr<Hub> hub) : hub_(std::move(hub)) {}
    ~LibusbBus() override { hub_->clearWatches(); }

    void watchArrivals(uint16_t vendor, uint16_t product, ArrivalHandler onArrival) override {
        hub_->watchArrivals(vendor, product, std::move(onArrival));
    }
    void watchRemoval(const std::shared_ptr<Device>& device, RemovalHandler onRemoval) override {
        // Only devices of this bus can be watched.
        auto* own = dynamic_cast<LibusbDevice*>(device.get());
        if (own && own->hub() == hub_.get()) hub_->watchRemoval(own->raw(), std::move(onRemoval));
    }
    void clearWatches() override { hub_->clearWatches(); }
    int poll(int timeoutMs) override { return hub_->poll(timeoutMs); }

private:
    std::shared_ptr<Hub> hub_;
};

}  // namespace

std::unique_ptr<Bus> makeLibusbBus(Discovery discovery, int scanIntervalMs) {
    std::shared_ptr<Hub> hub = Hub::create(discovery, scanIntervalMs);
    if (!hub) return nullptr;
    return std::make_unique<LibusbBus>(std::move(hub));
}

std::unique_ptr<Bus> makeLibusbBus() { return makeLibusbBus(Discovery::kAuto); }

}  // namespace usb
