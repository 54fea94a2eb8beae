// The host's product table against the simulator's device rows: every pair
// of the creation table, at every device release its rows name, in every
// mode and depth it offers, is plugged, read, decoded and compared with what
// the simulated device says it sent and was asked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "models/products.h"
#include "sim_session.h"

using simsession::Session;

namespace {
// The releases a product's rows tell apart, and one they do not name.
std::vector<uint16_t> releasesOf(const ProductRow& row) {
    std::set<uint16_t> releases{0xa000};
    const auto add = [&](const ReleaseList& list) {
        for (uint16_t r : list.releases)
            if (r) releases.insert(r);
    };
    for (const FrameLayout& layout : row.reader.layouts) add(layout.releases);
    for (const ClaimRow& claim : row.claim) add(claim.releases);
    return {releases.begin(), releases.end()};
}

// Every creatable pair outside the default watch list.
std::string extraIds() {
    std::string list;
    for (const ProductRow& row : productTable()) {
        if (!row.create) continue;
        for (uint16_t vendor : vendorIds(row.vendors)) {
            if (row.watched && vendor == 0x0547) continue;
            char pair[16];
            std::snprintf(pair, sizeof pair, "%s%04x:%04x", list.empty() ? "" : ",", vendor,
                          row.product);
            list += pair;
        }
    }
    return list;
}

class Agreement : public Session, public testing::WithParamInterface<const ProductRow*> {
  protected:
    void SetUp() override {
        setenv("EZCAM_EXTRA_IDS", extraIds().c_str(), 1);
        Session::SetUp();
        unsetenv("EZCAM_EXTRA_IDS");
    }

    // Reads the next good frame into raw (a mode change may cost one).
    int read(const std::string& name) {
        int result = -3;
        for (int i = 0; i < 4 && result != 0 && result != 1; ++i)
            result = GetRawData(raw.data(), static_cast<int>(raw.size()), name.c_str());
        return result;
    }
    const _ezImage* record() const { return reinterpret_cast<const _ezImage*>(raw.data()); }
    // Mean sample of the frame, on an 8-bit scale.
    double level() const {
        const _ezImage* r = record();
        const size_t samples = static_cast<size_t>(r->width) * r->height;
        double sum = 0;
        size_t n = 0;
        for (size_t i = 0; i < samples; i += 61, ++n)
            sum += r->depth == 16 ? (r->data[2 * i] | r->data[2 * i + 1] << 8) / 256.0 : r->data[i];
        return n ? sum / n : 0;
    }
    double levelAt(const std::string& name, float ms) {
        EXPECT_EQ(SetExposure(ms, name.c_str()), 0);
        EXPECT_EQ(read(name), 0);
        return level();
    }

    // Exposure where the signal stands clear of the black level (the level
    // at the shortest exposure; binned modes sum it) and below full scale:
    // doubling it about doubles the signal.
    void checkLevel(const std::string& name) {
        float low = 0, high = 0, step = 0;
        ASSERT_EQ(GetExposureRange(&low, &high, &step, name.c_str()), 0);
        float ms = std::min(GetExposure(name.c_str()), high / 2);
        const double black = levelAt(name, low);
        double mean = levelAt(name, ms);
        for (int i = 0; i < 12 && mean > 110 && ms / 2 >= low; ++i) mean = levelAt(name, ms /= 2);
        for (int i = 0; i < 12 && mean < black + 10 && ms * 4 <= high; ++i)
            mean = levelAt(name, ms *= 2);
        const double doubled = levelAt(name, 2 * ms);
        EXPECT_GT(mean, black + 4) << ms << " ms";
        EXPECT_GT(doubled - black, 1.5 * (mean - black)) << ms << " ms";
    }
    // The last bulk read of the trace: pipe, bytes asked and received.
    std::vector<int> lastRead(const sim::SimCamera& device) const {
        std::vector<int> read;
        for (const std::string& line : device.trace()) {
            int who = 0, pipe = 0, asked = 0, got = 0;
            if (std::sscanf(line.c_str(), "%d bulk %d %d %d", &who, &pipe, &asked, &got) == 4)
                read = {pipe, asked, got};
        }
        return read;
    }

    std::vector<unsigned char> raw, image;
};
}  // namespace

TEST_P(Agreement, EveryReleaseModeAndDepthDeliversTheFramesBothDescribe) {
    const ProductRow& row = *GetParam();
    for (const uint16_t vendor : vendorIds(row.vendors)) {
        // The other vendors of the shared table: one release, the first mode.
        const bool whole = vendor == vendorIds(row.vendors)[0];
        for (const uint16_t release : releasesOf(row)) {
            if (!whole && release != 0xa000) continue;
            SCOPED_TRACE(testing::Message() << row.model << " " << std::hex << vendor << ":"
                                            << row.product << "@" << release);
            const std::string name = plug(row.product, release, vendor);
            ASSERT_FALSE(name.empty());
            const char* n = name.c_str();
            sim::SimCamera& device = camera(lastId);
            ASSERT_NE(device.profile(), nullptr);
            ASSERT_EQ(ResumeDevice(n), 0);
            raw.assign(static_cast<size_t>(RecvMemSize(n)), 0);
            const int modes = whole ? GetResolutionCount(n) : 1;
            ASSERT_EQ(static_cast<size_t>(GetResolutionCount(n)),
                      device.profile()->resolutions.size());
            for (int mode = 0; mode < modes; ++mode) {
                for (const int depth : {8, 16}) {
                    SCOPED_TRACE(testing::Message() << "mode " << mode << ", " << depth << " bits");
                    ASSERT_EQ(SetResolution(mode, n), 0);
                    if (SetRawDepth(depth, n) != 0) continue;  // not offered here
                    device.clearTrace();
                    ASSERT_EQ(read(name), 0);

                    // The device is in the mode, clock and depth the host chose,
                    // and both tell the same modes and exposure.
                    const sim::DeviceProfile& p = *device.profile();
                    EXPECT_EQ(device.resolutionMode(), p.resolutions[mode].mode);
                    EXPECT_STREQ(GetResItemName(mode, n), p.resolutions[mode].label);
                    EXPECT_EQ(device.clockMode(), p.clocks[GetPixelclock(n)].mode);
                    EXPECT_EQ(device.depth(), depth);
                    EXPECT_NEAR(device.exposureMs(), GetExposure(n), 0.02 * GetExposure(n) + 0.01);
                    // The frame is read whole from the device's pipe.
                    const std::vector<int> last = lastRead(device);
                    ASSERT_EQ(last.size(), 3u);
                    EXPECT_EQ(last[0], p.bulkPipe);
                    EXPECT_EQ(static_cast<size_t>(last[2]), device.nextFrameShape().total());
                    EXPECT_GE(last[1], last[2]);

                    // The record: the mode's size and the depth; decoded, the
                    // border cut (VSi400M1's frames have none) in the camera's channels.
                    int width = 0, height = 0;
                    ASSERT_EQ(GetRawSize(&width, &height, n), 0);
                    EXPECT_EQ(record()->width, width);
                    EXPECT_EQ(record()->height, height);
                    EXPECT_EQ(record()->depth, depth);
                    const int channels = GetImageChannles(n);
                    image.assign(512 + static_cast<size_t>(width) * height * channels * depth / 8,
                                 0);
                    ASSERT_EQ(DecodeRaw2Image(raw.data(), image.data(), n), 0);
                    const auto* decoded = reinterpret_cast<const _ezImage*>(image.data());
                    const int border = row.vendors == Vendors::Miravel ? 0 : 8;
                    EXPECT_EQ(decoded->width, width - border);
                    EXPECT_EQ(decoded->height, height - border);
                    EXPECT_EQ(decoded->channels, channels);
                    EXPECT_EQ(decoded->depth, depth);

                    checkLevel(name);
                }
            }
            unplug(lastId);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Products, Agreement, testing::ValuesIn([] {
                             std::vector<const ProductRow*> rows;
                             for (const ProductRow& row : productTable())
                                 if (row.create) rows.push_back(&row);
                             return rows;
                         }()),
                         [](const testing::TestParamInfo<const ProductRow*>& info) {
                             char id[8];
                             std::snprintf(id, sizeof id, "%04x", info.param->product);
                             return std::string(info.param->model) + "_" + id;
                         });
