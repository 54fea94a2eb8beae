// A small INDI client on libindi's BaseClient, as KStars/Ekos would be one:
// the driver's tests run it against indiserver to take exposures, receive
// their FITS blobs, count a stream's frames and watch devices come and go.
//
//   indi_client PORT devices SECONDS
//   indi_client PORT expose DEVICE SECONDS OUT.fits TIMEOUT
//   indi_client PORT stream DEVICE FRAMES TIMEOUT
//   indi_client PORT watch SECONDS        (prints "new DEVICE", "removed DEVICE", as they happen)
#include <libindi/baseclient.h>
#include <libindi/basedevice.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

class Client : public INDI::BaseClient {
  public:
    std::mutex mutex;
    std::condition_variable changed;
    std::set<std::string> devices;
    std::set<std::string> properties;  // "device/property"
    std::string blobFormat;
    std::vector<char> blob;
    int blobs = 0;
    int streamBlobs = 0;
    size_t streamSize = 0;
    bool exposureFailed = false;
    bool streaming = false;
    std::vector<double> progress;
    bool printEvents = false;

  protected:
    void newDevice(INDI::BaseDevice device) override {
        std::lock_guard lock(mutex);
        devices.insert(device.getDeviceName());
        if (printEvents) {
            std::printf("new %s\n", device.getDeviceName());
            std::fflush(stdout);
        }
        changed.notify_all();
    }
    void removeDevice(INDI::BaseDevice device) override {
        std::lock_guard lock(mutex);
        devices.erase(device.getDeviceName());
        if (printEvents) {
            std::printf("removed %s\n", device.getDeviceName());
            std::fflush(stdout);
        }
        changed.notify_all();
    }
    void newProperty(INDI::Property property) override {
        std::lock_guard lock(mutex);
        properties.insert(std::string(property.getDeviceName()) + "/" + property.getName());
        changed.notify_all();
    }
    void updateProperty(INDI::Property property) override {
        std::lock_guard lock(mutex);
        if (property.getType() == INDI_BLOB && !std::strcmp(property.getName(), "CCD1")) {
            auto* view = property.getBLOB();
            const auto& element = *view->at(0);
            const std::string format = element.getFormat();
            if (format.find("stream") != std::string::npos) {
                ++streamBlobs;
                streamSize = static_cast<size_t>(element.getSize());
            } else {
                ++blobs;
                blobFormat = format;
                const char* data = static_cast<const char*>(element.getBlob());
                blob.assign(data, data + element.getSize());
            }
        } else if (property.getType() == INDI_SWITCH && !std::strcmp(property.getName(), "CCD_VIDEO_STREAM")) {
            streaming = property.getSwitch()->at(0)->getState() == ISS_ON;
        } else if (property.getType() == INDI_NUMBER && !std::strcmp(property.getName(), "CCD_EXPOSURE")) {
            auto* view = property.getNumber();
            // Alert: it failed; idle after it ran: it was aborted.
            if (view->getState() == IPS_ALERT || (view->getState() == IPS_IDLE && !progress.empty()))
                exposureFailed = true;
            if (view->getState() == IPS_BUSY) progress.push_back(view->at(0)->getValue());
        }
        changed.notify_all();
    }
    void newMessage(INDI::BaseDevice device, int messageID) override {
        std::fprintf(stderr, "message %s: %s\n", device.getDeviceName(), device.messageQueue(messageID).c_str());
    }
};

template <typename Predicate>
bool waitFor(Client& client, double seconds, Predicate done) {
    std::unique_lock lock(client.mutex);
    return client.changed.wait_for(lock, std::chrono::duration<double>(seconds), done);
}

// Turns one element of a switch on and the others off, as a client's button does
// (sendNewSwitch with an element name leaves the others as they were).
void selectSwitch(Client& client, const std::string& device, const char* name, const char* element) {
    INDI::PropertySwitch property = client.getDevice(device.c_str()).getSwitch(name);
    for (size_t i = 0; i < property.size(); ++i)
        property[i].setState(std::strcmp(property[i].getName(), element) ? ISS_OFF : ISS_ON);
    client.sendNewSwitch(property);
}

int usage() {
    std::fprintf(stderr, "usage: indi_client PORT devices SECONDS | expose DEVICE SECONDS OUT TIMEOUT | "
                         "stream DEVICE FRAMES TIMEOUT | watch SECONDS\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return usage();
    Client client;
    client.setServer("127.0.0.1", static_cast<unsigned>(std::atoi(argv[1])));
    const std::string command = argv[2];
    client.printEvents = command == "watch";
    if (!client.connectServer()) {
        std::fprintf(stderr, "indi_client: no server on port %s\n", argv[1]);
        return 1;
    }
    int status = 0;
    if (command == "devices" || command == "watch") {
        const double seconds = std::atof(argv[3]);
        waitFor(client, seconds, [] { return false; });
        if (command == "devices") {
            std::lock_guard lock(client.mutex);
            for (const std::string& device : client.devices) std::printf("%s\n", device.c_str());
        }
    } else if (command == "expose" && argc == 7) {
        const std::string device = argv[3];
        const double seconds = std::atof(argv[4]);
        const double timeout = std::atof(argv[6]);
        client.setBLOBMode(B_ALSO, device.c_str(), "CCD1");
        if (!waitFor(client, timeout, [&] { return client.properties.count(device + "/CCD_EXPOSURE") > 0; })) {
            std::fprintf(stderr, "indi_client: %s has no CCD_EXPOSURE\n", device.c_str());
            status = 1;
        } else {
            client.sendNewNumber(device.c_str(), "CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", seconds);
            const bool got = waitFor(client, timeout, [&] { return client.blobs > 0 || client.exposureFailed; });
            std::lock_guard lock(client.mutex);
            if (!got || client.blobs == 0) {
                std::fprintf(stderr, "indi_client: %s\n", got ? "the exposure failed" : "no image in time");
                status = 1;
            } else {
                FILE* out = std::fopen(argv[5], "wb");
                if (!out || std::fwrite(client.blob.data(), 1, client.blob.size(), out) != client.blob.size())
                    status = 1;
                if (out) std::fclose(out);
                std::printf("format %s\nbytes %zu\nprogress", client.blobFormat.c_str(), client.blob.size());
                for (double left : client.progress) std::printf(" %g", left);
                std::printf("\n");
            }
        }
    } else if (command == "stream" && argc == 6) {
        const std::string device = argv[3];
        const int frames = std::atoi(argv[4]);
        const double timeout = std::atof(argv[5]);
        client.setBLOBMode(B_ALSO, device.c_str(), "CCD1");
        if (!waitFor(client, timeout, [&] { return client.properties.count(device + "/CCD_VIDEO_STREAM") > 0; })) {
            std::fprintf(stderr, "indi_client: %s has no CCD_VIDEO_STREAM\n", device.c_str());
            status = 1;
        } else {
            const auto start = Clock::now();
            selectSwitch(client, device, "CCD_VIDEO_STREAM", "STREAM_ON");
            const bool got = waitFor(client, timeout, [&] { return client.streamBlobs >= frames; });
            const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
            selectSwitch(client, device, "CCD_VIDEO_STREAM", "STREAM_OFF");
            if (!waitFor(client, timeout, [&] { return !client.streaming; })) {
                std::fprintf(stderr, "indi_client: the stream did not stop\n");
                status = 1;
            }
            std::lock_guard lock(client.mutex);
            std::printf("frames %d\nbytes %zu\nseconds %.3f\n", client.streamBlobs, client.streamSize, elapsed);
            if (!got) status = 1;
        }
    } else {
        return usage();
    }
    client.disconnectServer();
    return status;
}
