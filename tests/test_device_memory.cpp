// The information memory, the firmware version and the entries no camera
// offers (firmware update, filter), as a simulated camera sees them.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "sim_session.h"

using simsession::Session;

namespace {
// One control transfer of the trace, with the data stage of an OUT request.
struct Chunk {
    int type = 0, request = 0, value = 0, index = 0, length = 0;
    std::vector<unsigned char> data;
};

class Memory : public Session {
  protected:
    void SetUp() override {
        Session::SetUp();
        name = plug(0xc004);
        id = lastId;
        camera(id).clearTrace();
    }
    std::vector<Chunk> sent() {
        std::vector<Chunk> out;
        for (const std::string& line : camera(id).trace()) {
            std::istringstream in(line);
            int who = 0;
            std::string kind, hex;
            Chunk c;
            in >> who >> kind >> std::hex >> c.type >> c.request >> c.value >> c.index >>
                std::dec >> c.length >> hex;
            for (size_t i = 0; i + 1 < hex.size(); i += 2)
                c.data.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
            out.push_back(c);
        }
        camera(id).clearTrace();
        return out;
    }
    // The camera's memory from address 65 on.
    std::vector<uint8_t> stored(int count) { return camera(id).memory(65, count); }

    std::string name;
    int id = 0;
};

std::vector<char> pattern(int n, int seed) {
    std::vector<char> bytes(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) bytes[static_cast<size_t>(i)] = static_cast<char>(seed + 3 * i);
    return bytes;
}
}  // namespace

TEST_F(Memory, WritesGoInChunksWhoseLastCoversAtMost63Addresses) {
    std::vector<char> data = pattern(100, 1);
    ASSERT_EQ(WriteInf(data.data(), 100, name.c_str()), 0);
    std::vector<Chunk> chunks = sent();
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0].type, 0x40);
    EXPECT_EQ(chunks[0].request, 0xb0);
    EXPECT_EQ(std::make_pair(chunks[0].value, chunks[0].index), std::make_pair(65, 128));
    EXPECT_EQ(std::make_pair(chunks[1].value, chunks[1].index), std::make_pair(129, 164));
    for (const Chunk& c : chunks) ASSERT_EQ(c.length, 64);
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + 64, chunks[0].data.begin(),
                           [](char a, unsigned char b) { return static_cast<unsigned char>(a) == b; }));
    // The last data stage begins with the 36 remaining bytes and is zero after them.
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(chunks[1].data[static_cast<size_t>(i)],
                  i < 36 ? static_cast<unsigned char>(data[static_cast<size_t>(64 + i)]) : 0)
            << i;
    const std::vector<uint8_t> memory = stored(100);
    EXPECT_TRUE(std::equal(memory.begin(), memory.end(), data.begin(),
                           [](uint8_t a, char b) { return a == static_cast<unsigned char>(b); }));

    // 64 bytes: one chunk of 63 addresses, so the 64th byte is sent but not kept.
    std::vector<char> other = pattern(64, 90);
    WriteInf(other.data(), 64, name.c_str());
    chunks = sent();
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(std::make_pair(chunks[0].value, chunks[0].index), std::make_pair(65, 127));
    EXPECT_EQ(stored(64)[62], static_cast<uint8_t>(other[62]));
    EXPECT_EQ(stored(64)[63], static_cast<uint8_t>(data[63]));

    // Longer writes are cut to 512 bytes: eight chunks, the last one 65 + 448 .. +62.
    std::vector<char> big = pattern(700, 7);
    WriteInf(big.data(), 700, name.c_str());
    chunks = sent();
    ASSERT_EQ(chunks.size(), 8u);
    EXPECT_EQ(std::make_pair(chunks[7].value, chunks[7].index), std::make_pair(513, 575));
    EXPECT_EQ(camera(id).memory(576, 1)[0], 0);
}

TEST_F(Memory, ReadsEndWithATerminatorInsideTheBuffer) {
    std::vector<char> data = pattern(200, 5);
    WriteInf(data.data(), 200, name.c_str());
    sent();

    // 100 bytes: (65,128) then (129,165); 99 bytes of memory and the
    // terminator in the buffer's last byte, nothing beyond it.
    std::vector<char> out(140, '#');
    ASSERT_EQ(ReadInf(out.data(), 100, name.c_str()), 0);
    std::vector<Chunk> chunks = sent();
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0].type, 0xc0);
    EXPECT_EQ(chunks[0].request, 0xb1);
    EXPECT_EQ(std::make_pair(chunks[0].value, chunks[0].index), std::make_pair(65, 128));
    EXPECT_EQ(std::make_pair(chunks[1].value, chunks[1].index), std::make_pair(129, 165));
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 99, data.begin()));
    EXPECT_EQ(out[99], '\0');
    EXPECT_EQ(out[100], '#');

    // 10 bytes: one request (65,75); 9 bytes and the terminator.
    std::fill(out.begin(), out.end(), '#');
    ReadInf(out.data(), 10, name.c_str());
    chunks = sent();
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(std::make_pair(chunks[0].value, chunks[0].index), std::make_pair(65, 75));
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 9, data.begin()));
    EXPECT_EQ(out[9], '\0');
    EXPECT_EQ(out[10], '#');

    // A multiple of 64: the last chunk yields 63 bytes, the terminator last.
    std::vector<char> whole(600, '#');
    ReadInf(whole.data(), 700, name.c_str());
    chunks = sent();
    ASSERT_EQ(chunks.size(), 8u);
    EXPECT_EQ(std::make_pair(chunks[7].value, chunks[7].index), std::make_pair(513, 576));
    EXPECT_TRUE(std::equal(whole.begin(), whole.begin() + 200, data.begin()));
    EXPECT_EQ(whole[511], '\0');
    EXPECT_EQ(whole[512], '#');

    // Nothing asked: nothing sent, an empty text.
    out[0] = 'x';
    EXPECT_EQ(ReadInf(out.data(), 0, name.c_str()), 0);
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(out[0], '\0');
}

TEST_F(Memory, RefusalsAndFailedTransfers) {
    std::vector<char> buffer(64, '#');
    EXPECT_EQ(WriteInf(nullptr, 10, name.c_str()), -2);
    EXPECT_EQ(ReadInf(nullptr, 10, name.c_str()), -2);
    EXPECT_EQ(WriteInf(buffer.data(), -1, name.c_str()), -2);
    EXPECT_EQ(ReadInf(buffer.data(), -5, name.c_str()), -2);
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(buffer[0], '#');
    EXPECT_EQ(WriteInf(buffer.data(), 0, name.c_str()), 0);
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(WriteInf(buffer.data(), 10, "nobody"), -1);
    EXPECT_EQ(ReadInf(buffer.data(), 10, "nobody"), -1);

    // A stalled chunk is not repeated; the next one still goes, and what the
    // stalled one did not deliver reads as zeros, not as the buffer's old bytes.
    // The same holds for a last chunk that delivers nothing.
    std::vector<char> data = pattern(130, 40);
    WriteInf(data.data(), 130, name.c_str());
    sent();
    std::vector<char> out(200, '#');
    camera(id).stallNextControl();
    EXPECT_EQ(ReadInf(out.data(), 130, name.c_str()), 0);
    EXPECT_EQ(sent().size(), 3u);
    EXPECT_TRUE(std::all_of(out.begin(), out.begin() + 64, [](char c) { return c == 0; }));
    EXPECT_TRUE(std::equal(out.begin() + 64, out.begin() + 129, data.begin() + 64));
    EXPECT_EQ(out[129], '\0');
    EXPECT_EQ(out[130], '#');
    std::vector<char> tail(20, '#');
    camera(id).stallNextControl();
    ReadInf(tail.data(), 20, name.c_str());
    EXPECT_TRUE(std::all_of(tail.begin(), tail.end(), [](char c) { return c == 0; }));

}

TEST_F(Memory, TextRoundTripsThroughTheCamera) {
    char text[] = "objective 40x, slide 17";
    WriteInf(text, sizeof text, name.c_str());
    char back[64];
    ASSERT_EQ(ReadInf(back, sizeof back, name.c_str()), 0);
    EXPECT_STREQ(back, text);
}

TEST_F(Memory, FirmwareVersion) {
    // Read once at opening: the simulator reports the release unless told otherwise.
    EXPECT_EQ(DeviceVersion(name.c_str()), 0xa000);
    camera(id).setFirmwareVersion(0x1234);
    sent();
    EXPECT_EQ(DeviceVersion(name.c_str()), 0x1234);
    const std::vector<Chunk> chunks = sent();
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0].type, 0xc0);
    EXPECT_EQ(chunks[0].request, 0xb6);
    EXPECT_EQ(std::make_pair(chunks[0].value, chunks[0].index), std::make_pair(0, 2));
    EXPECT_EQ(chunks[0].length, 64);
    // A failed request reports 0, never a stale number.
    camera(id).stallNextControl();
    EXPECT_EQ(DeviceVersion(name.c_str()), 0);
    EXPECT_EQ(DeviceVersion("nobody"), 0);
}

TEST_F(Memory, FirmwareUpdateAndFilterAreNotOffered) {
    ASSERT_EQ(ResumeDevice(name.c_str()), 0);
    sent();
    EXPECT_EQ(UpdateFirmware("/no/such/file.img", name.c_str()), -4);
    EXPECT_EQ(UpdateFirmware("", name.c_str()), -4);
    EXPECT_EQ(UpdateFirmware("/etc/hostname", name.c_str()), -4);
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(DeviceState(name.c_str()), 1);
    EXPECT_EQ(UpdateFirmware("/etc/hostname", ""), -1);
    EXPECT_EQ(UpdateFirmware("/etc/hostname", "nobody"), -1);

    EXPECT_EQ(SetFilter(true, name.c_str()), -4);
    bool on = true;
    EXPECT_EQ(GetFilter(&on, name.c_str()), -4);
    EXPECT_FALSE(on);
    EXPECT_TRUE(sent().empty());
}
