// The information memory, the firmware version and the entries no camera
// offers (firmware update, filter), as a simulated camera sees them.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "sim_session.h"

using simsession::Session;

namespace {
using Span = std::pair<int, int>;  // first and last address of a request

class Memory : public Session {
  protected:
    void SetUp() override {
        Session::SetUp();
        name = plug(0xc004);
        id = lastId;
        camera(id).clearTrace();
    }
    // The control requests sent since the last look: "b0" or "b1" with
    // their address spans; data stages of writes collected in `stages`.
    std::vector<Span> sent(int request) {
        std::vector<Span> spans;
        stages.clear();
        for (const std::string& line : camera(id).trace()) {
            std::istringstream in(line);
            int who = 0, type = 0, code = 0, value = 0, index = 0, length = 0;
            std::string kind, hex;
            in >> who >> kind >> std::hex >> type >> code >> value >> index >> std::dec >> length >>
                hex;
            EXPECT_EQ(code, request) << line;
            EXPECT_EQ(length, 64) << line;
            spans.emplace_back(value, index);
            std::string stage;
            for (size_t i = 0; i + 1 < hex.size(); i += 2)
                stage += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
            stages.push_back(stage);
        }
        camera(id).clearTrace();
        return spans;
    }
    std::string stored(int count) {
        const std::vector<uint8_t> bytes = camera(id).memory(65, count);
        return {bytes.begin(), bytes.end()};
    }

    std::string name;
    int id = 0;
    std::vector<std::string> stages;
};

std::string pattern(int n, int seed) {
    std::string bytes(static_cast<size_t>(n), '\0');
    for (int i = 0; i < n; ++i) bytes[static_cast<size_t>(i)] = static_cast<char>(seed + 3 * i);
    return bytes;
}
}  // namespace

TEST_F(Memory, WritesGoInChunksWhoseLastCoversAtMost63Addresses) {
    std::string data = pattern(100, 1);
    ASSERT_EQ(WriteInf(data.data(), 100, name.c_str()), 0);
    EXPECT_EQ(sent(0xb0), (std::vector<Span>{{65, 128}, {129, 164}}));
    EXPECT_EQ(stages[0], data.substr(0, 64));
    EXPECT_EQ(stages[1], data.substr(64) + std::string(28, '\0'));
    EXPECT_EQ(stored(100), data);

    // 64 bytes: one chunk of 63 addresses; the 64th byte is sent, not kept.
    std::string other = pattern(64, 90);
    WriteInf(other.data(), 64, name.c_str());
    EXPECT_EQ(sent(0xb0), (std::vector<Span>{{65, 127}}));
    EXPECT_EQ(stored(64), other.substr(0, 63) + data[63]);

    // Longer writes are cut to 512 bytes.
    std::string big = pattern(700, 7);
    WriteInf(big.data(), 700, name.c_str());
    const std::vector<Span> spans = sent(0xb0);
    ASSERT_EQ(spans.size(), 8u);
    EXPECT_EQ(spans[6], Span(449, 512));
    EXPECT_EQ(spans[7], Span(513, 575));
    EXPECT_EQ(camera(id).memory(576, 1)[0], 0);
}

TEST_F(Memory, ReadsEndWithATerminatorInsideTheBuffer) {
    std::string data = pattern(200, 5);
    WriteInf(data.data(), 200, name.c_str());
    sent(0xb0);

    // 100 bytes: the chunks of the write, the last one address longer; 99
    // bytes of memory and the terminator in the buffer's last byte.
    std::string out(140, '#');
    ASSERT_EQ(ReadInf(out.data(), 100, name.c_str()), 0);
    EXPECT_EQ(sent(0xb1), (std::vector<Span>{{65, 128}, {129, 165}}));
    EXPECT_EQ(out.substr(0, 101), data.substr(0, 99) + '\0' + '#');

    out.assign(140, '#');
    ReadInf(out.data(), 10, name.c_str());
    EXPECT_EQ(sent(0xb1), (std::vector<Span>{{65, 75}}));
    EXPECT_EQ(out.substr(0, 11), data.substr(0, 9) + '\0' + '#');

    // A multiple of 64: the last chunk yields 63 bytes, the terminator last.
    out.assign(600, '#');
    ReadInf(out.data(), 700, name.c_str());
    EXPECT_EQ(sent(0xb1).back(), Span(513, 576));
    EXPECT_EQ(out.substr(0, 200), data);
    EXPECT_EQ(out.substr(511, 2), std::string("\0#", 2));

    // Nothing asked: nothing sent, an empty text.
    out[0] = 'x';
    EXPECT_EQ(ReadInf(out.data(), 0, name.c_str()), 0);
    EXPECT_TRUE(sent(0xb1).empty());
    EXPECT_EQ(out[0], '\0');

    char text[] = "objective 40x, slide 17";
    WriteInf(text, sizeof text, name.c_str());
    char back[64];
    ReadInf(back, sizeof back, name.c_str());
    EXPECT_STREQ(back, text);
}

TEST_F(Memory, RefusalsAndFailedTransfers) {
    std::string buffer(64, '#');
    EXPECT_EQ(WriteInf(nullptr, 10, name.c_str()), -2);
    EXPECT_EQ(ReadInf(nullptr, 10, name.c_str()), -2);
    EXPECT_EQ(WriteInf(buffer.data(), -1, name.c_str()), -2);
    EXPECT_EQ(ReadInf(buffer.data(), -5, name.c_str()), -2);
    EXPECT_EQ(WriteInf(buffer.data(), 0, name.c_str()), 0);
    EXPECT_TRUE(camera(id).trace().empty());
    EXPECT_EQ(buffer, std::string(64, '#'));
    EXPECT_EQ(WriteInf(buffer.data(), 10, "nobody"), -1);
    EXPECT_EQ(ReadInf(buffer.data(), 10, "nobody"), -1);

    // A stalled chunk is not repeated; the next one still goes, and what the
    // stalled one did not deliver reads as zeros, not as the buffer's old
    // bytes. The call says that part is missing.
    std::string data = pattern(130, 40);
    ASSERT_EQ(WriteInf(data.data(), 130, name.c_str()), 0);
    sent(0xb0);
    std::string out(200, '#');
    camera(id).stallNextControl();
    EXPECT_EQ(ReadInf(out.data(), 130, name.c_str()), -3);
    EXPECT_EQ(sent(0xb1).size(), 3u);
    EXPECT_EQ(out.substr(0, 131), std::string(64, '\0') + data.substr(64, 65) + '\0' + '#');
    camera(id).stallNextControl();
    EXPECT_EQ(ReadInf(out.data(), 20, name.c_str()), -3);
    EXPECT_EQ(out.substr(0, 20), std::string(20, '\0'));
    EXPECT_EQ(ReadInf(out.data(), 130, name.c_str()), 0);
    EXPECT_EQ(out.substr(0, 130), data.substr(0, 129) + '\0');
    sent(0xb1);

    // A stalled write chunk: the others are written, the call says one was not.
    std::string other = pattern(130, 77);
    camera(id).stallNextControl();
    EXPECT_EQ(WriteInf(other.data(), 130, name.c_str()), -3);
    EXPECT_EQ(sent(0xb0).size(), 3u);
    EXPECT_EQ(stored(130), data.substr(0, 64) + other.substr(64));
    // A single-byte read copies nothing but still asks: a failed ask is said too.
    camera(id).stallNextControl();
    EXPECT_EQ(ReadInf(out.data(), 1, name.c_str()), -3);
    EXPECT_EQ(out[0], '\0');
}

TEST_F(Memory, FirmwareVersionAndWhatNoCameraOffers) {
    // Read once at opening: the simulator reports the release unless told otherwise.
    EXPECT_EQ(DeviceVersion(name.c_str()), 0xa000);
    camera(id).setFirmwareVersion(0x1234);
    camera(id).clearTrace();
    EXPECT_EQ(DeviceVersion(name.c_str()), 0x1234);
    const std::vector<std::string> trace = camera(id).trace();
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_EQ(trace[0].substr(trace[0].find("ctrl")), "ctrl c0 b6 0000 0002 64");
    // A failed request reports 0, never a stale number.
    camera(id).stallNextControl();
    EXPECT_EQ(DeviceVersion(name.c_str()), 0);
    EXPECT_EQ(DeviceVersion("nobody"), 0);

    // Firmware update and the filter: refused without a word to the camera,
    // which keeps streaming.
    ASSERT_EQ(ResumeDevice(name.c_str()), 0);
    camera(id).clearTrace();
    EXPECT_EQ(UpdateFirmware("/no/such/file.img", name.c_str()), -4);
    EXPECT_EQ(UpdateFirmware("/etc/hostname", name.c_str()), -4);
    EXPECT_EQ(UpdateFirmware("/etc/hostname", ""), -1);
    EXPECT_EQ(SetFilter(true, name.c_str()), -4);
    bool on = true;
    EXPECT_EQ(GetFilter(&on, name.c_str()), -4);
    EXPECT_FALSE(on);
    EXPECT_TRUE(camera(id).trace().empty());
    EXPECT_EQ(DeviceState(name.c_str()), 1);
}
