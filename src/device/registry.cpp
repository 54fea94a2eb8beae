// The device registry: cameras arrive from the bus, are created, opened and
// registered by name, and leave on removal or at shutdown. The application
// hears of both through its hot-plug handler, on the thread that polls.
#include "device/registry.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "camera/cam_bayer.h"
#include "device/bus.h"
#include "ezImage/registry.h"
#include "ezcam.h"
#include "guarded.h"
#include "models/catalogue.h"
#include "models/products.h"
#include "processing/decode.h"
#include "usb/usb.h"

std::span<const SupportedCamera> tabCamSupport() {
    static const std::vector<SupportedCamera> pairs = [] {
        constexpr uint16_t kWatchedVendor = 0x0547;
        std::vector<SupportedCamera> out;
        for (const ProductRow& row : productTable())
            if (row.watched) out.push_back({kWatchedVendor, row.product});
        return out;
    }();
    return pairs;
}

namespace {
// "vvvv" or "pppp" in hexadecimal, at most four digits.
bool parseId(const std::string& text, uint16_t& id) {
    if (text.empty() || text.size() > 4) return false;
    unsigned value = 0;
    for (char c : text) {
        const int digit = std::isdigit(static_cast<unsigned char>(c))   ? c - '0'
                          : std::isxdigit(static_cast<unsigned char>(c)) ? std::tolower(c) - 'a' + 10
                                                                         : -1;
        if (digit < 0) return false;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    id = static_cast<uint16_t>(value);
    return true;
}

// The pairs of EZCAM_EXTRA_IDS ("vvvv:pppp,...", hexadecimal) that the
// catalogue can create and the default watches miss. Anything else is
// reported on standard error and left out.
std::vector<SupportedCamera> extraIds() {
    std::vector<SupportedCamera> pairs;
    const char* list = std::getenv("EZCAM_EXTRA_IDS");
    if (!list) return pairs;
    const std::string text = list;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string::npos) end = text.size();
        std::string item = text.substr(start, end - start);
        start = end + 1;
        item.erase(0, item.find_first_not_of(" \t"));
        item.erase(item.find_last_not_of(" \t") + 1);
        if (item.empty()) continue;
        const size_t colon = item.find(':');
        uint16_t vendor = 0, product = 0;
        if (colon == std::string::npos || !parseId(item.substr(0, colon), vendor) ||
            !parseId(item.substr(colon + 1), product)) {
            std::fprintf(stderr, "EZCAM_EXTRA_IDS: ignoring \"%s\": not vendor:product in hexadecimal\n",
                         item.c_str());
            continue;
        }
        const ProductRow* row = findProduct(vendor, product);
        if (!row || !row->create) {
            std::fprintf(stderr, "EZCAM_EXTRA_IDS: ignoring %04x:%04x: no camera model drives it\n",
                         vendor, product);
            continue;
        }
        bool known = false;
        for (const SupportedCamera& pair : tabCamSupport())
            known = known || (pair.vendor == vendor && pair.product == product);
        for (const SupportedCamera& pair : pairs)
            known = known || (pair.vendor == vendor && pair.product == product);
        if (!known) pairs.push_back({vendor, product});
    }
    return pairs;
}

using CameraPtr = std::shared_ptr<CamBayer>;

struct Registry {
    std::mutex mutex;  // guards everything below
    std::map<std::string, CameraPtr> mapCamList;
    std::string documentPaths_;
    EzHotPlugHandler devHotPlug = nullptr;
    void* app = nullptr;
    char camName[1024] = {};
    char versions[1024] = {};
};

// Never destroyed: cameras must not outlive the bus in static destruction.
Registry& registry() {
    static Registry* instance = new Registry;
    return *instance;
}

void announce(const char* name, int event) {
    Registry& r = registry();
    EzHotPlugHandler handler;
    void* receiver;
    {
        std::lock_guard lock(r.mutex);
        handler = r.devHotPlug;
        receiver = r.app;
    }
    // Called without the registry lock: the handler may well call back in.
    if (handler) handler(receiver, name, event);
}

void saveParameters(CamBayer& camera, const std::string& directory) {
    auto lock = camera.lockSettings();
    camera._save_params(camera._current_params(directory), directory);
}

void removeDevice(const CameraPtr& camera) {
    Registry& r = registry();
    std::string name;
    {
        auto lock = camera->lockSettings();
        name = camera->_name();
    }
    std::string directory;
    char announced[sizeof r.camName];
    {
        std::lock_guard lock(r.mutex);
        std::strncpy(r.camName, name.c_str(), sizeof r.camName - 1);
        r.camName[sizeof r.camName - 1] = '\0';
        std::memcpy(announced, r.camName, sizeof announced);
        // Only this camera's entry: another camera registered under the same
        // name since stays.
        auto it = r.mapCamList.find(name);
        if (it != r.mapCamList.end() && it->second == camera) r.mapCamList.erase(it);
        directory = r.documentPaths_;
    }
    // A set that cannot be saved does not keep the removal from the application.
    ezcam::guarded([&] { saveParameters(*camera, directory); });
    // The registry's reference is gone: the camera is destroyed as soon as
    // no call is running on it, streaming or not.
    announce(announced, EZ_DEVICE_REMOVED);
}

void insertDevice(const std::shared_ptr<usb::Device>& device) {
    if (!device) return;
    const usb::DeviceInfo info = device->info();
    std::unique_ptr<CamBayer> created = _create_device(info.product, info.vendor);
    if (!created) return;
    CameraPtr camera(std::move(created));
    std::string name;
    {
        auto lock = camera->lockSettings();
        camera->__open_driver(device);
        name = camera->_name();
    }
    // Watched before it is registered, so that a failure here leaves no
    // camera behind that its removal would not take away. Removals are
    // delivered on this thread, never in between.
    ezcam::cameraBus().watchRemoval(device, [weak = std::weak_ptr<CamBayer>(camera)] {
        if (CameraPtr gone = weak.lock()) ezcam::guarded([&] { removeDevice(gone); });
    });
    Registry& r = registry();
    std::string directory;
    {
        std::lock_guard lock(r.mutex);
        r.mapCamList[name] = camera;
        directory = r.documentPaths_;
    }
    // A parameter set that cannot be read leaves the camera at its defaults.
    ezcam::guarded([&] {
        auto lock = camera->lockSettings();
        camera->_load_params(camera->_current_params(directory), directory);
    });
    announce(camera->_name(), EZ_DEVICE_ARRIVED);
}

// The bus's arrival handler: a camera that fails to arrive is logged and
// left out; the other arrivals of the same poll go on.
void arrived(const std::shared_ptr<usb::Device>& device) {
    ezcam::guarded([&] { insertDevice(device); });
}

// Takes every camera out of the registry, in registry order.
std::vector<CameraPtr> takeAll() {
    Registry& r = registry();
    std::vector<CameraPtr> cameras;
    std::lock_guard lock(r.mutex);
    for (auto& [name, camera] : r.mapCamList) cameras.push_back(std::move(camera));
    r.mapCamList.clear();
    return cameras;
}
}  // namespace

namespace ezcam {
std::shared_ptr<CamBayer> findCamera(const char* name) {
    if (!name) return nullptr;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.mapCamList.find(name);
    return it == r.mapCamList.end() ? nullptr : it->second;
}

std::string documentDirectory() {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.documentPaths_;
}
}  // namespace ezcam

extern "C" {

int InitDevice(EzHotPlugHandler handler, void* receiver, const char* directory) {
    return ezcam::guarded(EZ_EIO, [&]() -> int {
        // Cameras of an earlier start are released (once no call runs on
        // them); their devices arrive again below.
        takeAll();
        ezInitGrfmt();
        Registry& r = registry();
        {
            std::lock_guard lock(r.mutex);
            r.documentPaths_ = directory ? directory : "";
            r.devHotPlug = handler;
            r.app = receiver;
        }
        usb::Bus& bus = ezcam::cameraBus();
        // One set of watches at a time, or every camera would arrive twice.
        bus.clearWatches();
        for (const SupportedCamera& entry : tabCamSupport())
            bus.watchArrivals(static_cast<uint16_t>(entry.vendor),
                              static_cast<uint16_t>(entry.product), arrived);
        // Cameras of the catalogue outside the default list, claimed on request.
        for (const SupportedCamera& entry : extraIds())
            bus.watchArrivals(static_cast<uint16_t>(entry.vendor),
                              static_cast<uint16_t>(entry.product), arrived);
        // Cameras already plugged in arrive now.
        bus.poll(0);
        return EZ_OK;
    });
}

void ExitDevice(void) {
    ezcam::guarded([] {
        ezcam::cameraBus().clearWatches();
        const std::string directory = ezcam::documentDirectory();
        // One camera's set that cannot be saved keeps no other from its own.
        for (const CameraPtr& camera : takeAll())
            ezcam::guarded([&] { saveParameters(*camera, directory); });
        exExitGrfmt();
    });
}

int PollDevice(int timeout_ms) {
    return ezcam::guarded(EZ_EIO, [&] { return ezcam::cameraBus().poll(timeout_ms); });
}

int DeviceCount(void) {
    return ezcam::guarded(0, [] {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        return static_cast<int>(r.mapCamList.size());
    });
}

const char* DeviceName(int index) {
    return ezcam::guarded("", [&]() -> const char* {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        if (index < 0 || index >= static_cast<int>(r.mapCamList.size())) return "";
        auto it = r.mapCamList.begin();
        std::advance(it, index);
        return it->first.c_str();
    });
}

int ResumeDevice(const char* name) {
    return ezcam::guarded(EZ_EIO, [&]() -> int {
        CameraPtr camera = ezcam::findCamera(name);
        if (!camera) return EZ_ENOCAM;
        auto lock = camera->lockSettings();
        camera->setSuspended(false);
        if (camera->_state() != 0) return EZ_OK;
        camera->restartFrameCount();  // a new stream: its frames count from 0
        return camera->_sensor_resume();
    });
}

int SuspendDevice(const char* name) {
    return ezcam::guarded(EZ_EIO, [&]() -> int {
        CameraPtr camera = ezcam::findCamera(name);
        if (!camera) return EZ_ENOCAM;
        auto lock = camera->lockSettings();
        // Frame reads are refused from now on, whether or not it was streaming.
        camera->setSuspended(true);
        if (camera->_state() != 1) return EZ_OK;
        return camera->_sensor_suspend();
    });
}

const char* VersionInf(int kind) {
    static const char* const kTexts[] = {"2014/07/24", "4.0.0.0", "(CHINA_kelvan)"};
    return ezcam::guarded("", [&]() -> const char* {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        if (kind >= 1 && kind <= 3) std::strcpy(r.versions, kTexts[kind - 1]);
        return r.versions;
    });
}

}  // extern "C"
