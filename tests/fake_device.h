// A scripted USB device for camera tests that need no bus: it records every
// call and answers with the statuses and frames a test gives it.
#pragma once

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "usb/usb.h"

struct FakeDevice : usb::Device {
    struct Request {
        uint8_t requestType, request;
        uint16_t value, index, length;
    };

    usb::DeviceInfo deviceInfo{0x0547, 0xc004, 0xa000, 0x0200};
    uint32_t openStatus = usb::kSuccess;
    uint32_t claimStatus = usb::kSuccess;
    // Statuses of the next control transfers (then success).
    std::deque<uint32_t> controlStatuses;
    // Bytes a device-to-host request receives.
    std::vector<unsigned char> reply;
    // Fills a bulk read; returns the byte count the device claims it sent.
    std::function<int(unsigned char* buffer, int length)> frame;
    int frameBytes = 2147483647;  // no more arrives, whatever is asked
    uint32_t bulkStatus = usb::kSuccess;
    bool pauses = false;  // plays a real sensor that needs the protocol's pauses

    mutable std::mutex mutex;
    std::vector<std::string>
        calls;  // open, reset, configure, claim, close, clear<pipe>, bulk<pipe>
    std::vector<Request> requests;
    std::vector<unsigned> bulkTimeouts;

    usb::DeviceInfo info() const override { return deviceInfo; }
    bool needsPauses() const override { return pauses; }
    uint32_t open() override { return note("open", openStatus); }
    uint32_t reset() override { return note("reset", usb::kSuccess); }
    uint32_t setFirstConfiguration() override { return note("configure", usb::kSuccess); }
    uint32_t claimFirstInterface() override { return note("claim", claimStatus); }
    void close() override { note("close", usb::kSuccess); }

    uint32_t control(EZURB& urb, unsigned) override {
        std::lock_guard lock(mutex);
        requests.push_back({urb.requestType, urb.request, urb.value, urb.index, urb.length});
        calls.push_back("control");
        uint32_t status = usb::kSuccess;
        if (!controlStatuses.empty()) {
            status = controlStatuses.front();
            controlStatuses.pop_front();
        }
        if (status == usb::kSuccess && (urb.requestType & 0x80) && urb.data) {
            const size_t n = std::min<size_t>(urb.length, reply.size());
            if (n) std::memcpy(urb.data, reply.data(), n);  // an empty reply has no data pointer
            urb.lengthDone = static_cast<uint32_t>(n);
        }
        return status;
    }

    uint32_t bulkRead(int pipe, unsigned char* buffer, int length, int* received,
                      unsigned timeoutMs) override {
        {
            std::lock_guard lock(mutex);
            calls.push_back("bulk" + std::to_string(pipe));
            bulkTimeouts.push_back(timeoutMs);
        }
        *received = frame ? std::min(frame(buffer, length), frameBytes) : 0;
        return bulkStatus;
    }

    uint32_t clearHalt(int pipe) override {
        return note("clear" + std::to_string(pipe), usb::kSuccess);
    }

    // Requests of one code, in order.
    std::vector<Request> sent(uint8_t request) const {
        std::lock_guard lock(mutex);
        std::vector<Request> out;
        for (const Request& r : requests)
            if (r.request == request) out.push_back(r);
        return out;
    }
    std::vector<uint8_t> codes() const {
        std::lock_guard lock(mutex);
        std::vector<uint8_t> out;
        for (const Request& r : requests) out.push_back(r.request);
        return out;
    }
    void forget() {
        std::lock_guard lock(mutex);
        requests.clear();
        calls.clear();
    }
    int count(const std::string& call) const {
        std::lock_guard lock(mutex);
        return static_cast<int>(std::count(calls.begin(), calls.end(), call));
    }

  private:
    uint32_t note(const std::string& call, uint32_t status) {
        std::lock_guard lock(mutex);
        calls.push_back(call);
        return status;
    }
};

// A well-framed frame: ten marker bytes, then a ramp; the full length arrives.
inline int markedFrame(unsigned char* buffer, int length) {
    for (int i = 0; i < length; ++i) buffer[i] = static_cast<unsigned char>(i * 7 + 3);
    std::memset(buffer, 0x88, std::min(length, 10));
    return length;
}
