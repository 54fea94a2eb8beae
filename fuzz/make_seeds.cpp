// Makes the harnesses' seed corpora from the simulated cameras: every
// product of the product table at the device releases whose framing
// differs, its frames read by the real frame reader in every resolution at
// 8 bits, the first at 16 and a region programmed into the sensor,
// recorded in the frame harness's input format; RAW files of those frames;
// the parameter sets those cameras save; and the information-memory
// transfers of a write and a read.
//
//   make_seeds DIRECTORY    writes DIRECTORY/<harness>/seed-<n>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ezImage/grfmt_raw.h"
#include "fuzz_device.h"
#include "processing/image_record.h"
#include "sim/sim_camera.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kEdge = 64;  // first and last bytes of a transfer kept in a seed
// The usual release and those whose frames other layouts carry.
constexpr uint16_t kReleases[] = {0xa000, 0x0100, 0xa001, 0xa106, 0xb001, 0xb002, 0xb003};

std::string root;
int written = 0;

void save(const std::string& harness, const Bytes& bytes) {
    const std::string folder = root + "/" + harness;
    ::mkdir(folder.c_str(), 0777);
    const std::string path = folder + "/seed-" + std::to_string(++written);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}
void put16(Bytes& out, int value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}
// The harness's pick of this release for the product; 0xff: none.
uint8_t releasePick(fuzzing::Product product, uint16_t release) {
    for (uint8_t pick = 0; pick < 16; ++pick) {
        const uint8_t byte[1] = {pick};
        fuzzing::Input in(byte, 1);
        if (fuzzing::release(product, in) == release) return pick;
    }
    return 0xff;
}
uint8_t statusIndex(uint32_t status) {
    for (uint8_t i = 0; i < 6; ++i)
        if (fuzzing::status(i) == status) return i;
    return 2;
}

// A host camera on a simulated one: every request and read goes to the
// simulator, and each bulk transfer is also recorded as the frame harness
// describes transfers.
struct Pair {
    sim::SimCamera device;
    std::shared_ptr<fuzzing::Device> port;
    std::unique_ptr<CamBayer> host;
    Bytes transfers;

    Pair(fuzzing::Product product, uint16_t release)
        : device(1, product.vendor, product.product, release),
          port(std::make_shared<fuzzing::Device>(product, release)),
          host(_create_device(product.product, product.vendor)) {
        device.setPaced(false);
        port->answer = [this](EZURB& urb) { return device.control(urb); };
        const int pipe = device.profile()->bulkPipe;
        port->bulk = [this, pipe](unsigned char* buffer, int length, int* received) {
            const uint32_t status = device.bulkRead(pipe, buffer, length, received);
            const int got = std::clamp(*received, 0, length);
            put16(transfers, std::clamp(*received - length, -32768, 32767));
            transfers.push_back(statusIndex(status));
            const int first = std::min(got, kEdge), last = std::min(got - first, kEdge);
            transfers.push_back(static_cast<uint8_t>(first));
            transfers.insert(transfers.end(), buffer, buffer + first);
            transfers.push_back(static_cast<uint8_t>(last));
            transfers.insert(transfers.end(), buffer + got - last, buffer + got);
            transfers.push_back(0);  // no stamps
            return status;
        };
        host->__open_driver(port);
    }
};

// A RAW file of a corner of a frame the reader delivered.
void rawSeed(const unsigned char* frame) {
    _ezImage record;
    std::memcpy(&record, frame, sizeof record);
    const int width = std::min<int>(record.width, 40), height = std::min<int>(record.height, 24);
    ImagePtr corner = makeImage(width, height, record.depth, 1);
    if (!corner) return;
    const size_t row = static_cast<size_t>(record.width) * (record.depth / 8);
    for (int y = 0; y < height; ++y)
        std::memcpy(corner->data + static_cast<size_t>(y) * corner->stride,
                    frame + record.header_size + y * row, corner->stride);
    const std::string path = root + "/raw.tmp";
    RawEncoder encoder;
    if (!encoder.setDestination(path.c_str()) || !encoder.write(corner.get())) return;
    std::ifstream in(path, std::ios::binary);
    save("raw_reader", Bytes(std::istreambuf_iterator<char>(in), {}));
    std::remove(path.c_str());
}

// Each seed replays what the harness does: a fresh camera, the resolution,
// the depth, one read. Every resolution at 8 bits, the first at 16.
void frameSeeds(size_t productIndex, fuzzing::Product product, uint16_t release, int& raws) {
    const int count = std::max(Pair(product, release).host->_resolution_count(), 1);
    for (int index = 0; index < count; ++index) {
        for (const bool deep : {false, true}) {
            if (deep && index > 0) continue;
            Pair pair(product, release);
            CamBayer& c = *pair.host;
            if (c._set_resolution(index, true) != 0) continue;
            if (deep && c._set_raw_depth(16) != 0) continue;
            std::vector<unsigned char> buffer(static_cast<size_t>(std::max(c._body(), 0)));
            pair.transfers.clear();
            if (buffer.empty() || c._raw_data(buffer.data(), static_cast<int>(buffer.size())) != 0)
                continue;
            Bytes seed{static_cast<uint8_t>(productIndex)};
            seed.push_back(releasePick(product, release));
            seed.push_back(static_cast<uint8_t>(index));
            seed.push_back(deep ? 1 : 0);
            seed.insert(seed.end(), pair.transfers.begin(), pair.transfers.end());
            save("frame_reader", seed);
            if (raws-- > 0) rawSeed(buffer.data());
        }
    }
}

// A region programmed into the sensor: the harness's frames of the
// region's size (small, so the fuzzer runs through them quickly). Recorded
// where the reader programs the region rather than cutting it out.
void regionSeed(size_t productIndex, fuzzing::Product product, uint16_t release) {
    constexpr int kX = 16, kY = 8, kWidth = 64, kHeight = 48;
    Pair pair(product, release);
    CamBayer& c = *pair.host;
    c._set_roi(kX, kY, kWidth, kHeight);
    std::vector<unsigned char> buffer(static_cast<size_t>(std::max(c._body(), 0)));
    if (buffer.empty()) return;
    const int size = static_cast<int>(buffer.size());
    for (int read = 0; read < 3 && !c.sensorControl().roiActive; ++read) c._raw_data(buffer.data(), size);
    pair.transfers.clear();
    if (!c.sensorControl().roiActive || c._raw_data(buffer.data(), size) != 0) return;
    Bytes seed{static_cast<uint8_t>(productIndex)};
    seed.push_back(releasePick(product, release));
    seed.push_back(0);
    seed.push_back(4);  // region active
    for (const int value : {kX, kY, kWidth, kHeight}) put16(seed, value);
    seed.insert(seed.end(), pair.transfers.begin(), pair.transfers.end());
    save("frame_reader", seed);
}

void setSeed(size_t productIndex, fuzzing::Product product, uint16_t release) {
    fuzzing::Camera camera(product, release);
    const std::string directory = root + "/";
    if (camera.object->_save_params(0, directory) != 0) return;
    const std::string model = camera.object->modelName();
    std::ifstream in(directory + model + "a.txt", std::ios::binary);
    Bytes seed{static_cast<uint8_t>(productIndex)};
    seed.push_back(releasePick(product, release));
    seed.insert(seed.end(), std::istreambuf_iterator<char>(in), {});
    save("parameter_set", seed);
    std::remove((directory + model + "a.txt").c_str());
    std::remove((directory + model).c_str());
}

void memorySeeds(fuzzing::Product product) {
    Pair pair(product, 0x0100);
    char text[512];
    for (size_t i = 0; i < sizeof text; ++i) text[i] = static_cast<char>('a' + i % 26);
    pair.host->_wmem_inf(text, sizeof text);
    for (const int operation : {0, 1, 2}) {
        for (const int length : {10, 64, 100, 512}) {
            Bytes seed{static_cast<uint8_t>(operation)};
            put16(seed, length);
            pair.port->answer = [&](EZURB& urb) {
                const uint32_t status = pair.device.control(urb);
                seed.push_back(statusIndex(status));
                seed.push_back(static_cast<uint8_t>(urb.lengthDone));
                const uint8_t n = (urb.requestType & 0x80) ? urb.lengthDone : 0;
                seed.push_back(n);
                seed.insert(seed.end(), urb.data, urb.data + n);
                return status;
            };
            std::vector<char> buffer(static_cast<size_t>(length));
            int version = 0;
            if (operation == 0) pair.host->_rmem_inf(buffer.data(), length);
            if (operation == 1) pair.host->_wmem_inf(text, length);
            if (operation == 2) pair.host->_versions(&version);
            save("information_memory", seed);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], "--help") == 0) {
        std::fprintf(stderr, "usage: make_seeds DIRECTORY\n"
                             "Writes the fuzz harnesses' seed corpora from the simulated cameras\n"
                             "into DIRECTORY/<harness>/.\n");
        return argc == 2 ? 0 : 2;
    }
    root = argv[1];
    ::mkdir(root.c_str(), 0777);
    const auto& products = fuzzing::products();
    int raws = 12;
    for (size_t i = 0; i < products.size(); ++i) {
        for (const uint16_t release : kReleases) {
            if (!sim::findProfile(products[i].vendor, products[i].product, release) ||
                releasePick(products[i], release) == 0xff)
                continue;
            frameSeeds(i, products[i], release, raws);
            regionSeed(i, products[i], release);
            setSeed(i, products[i], release);
        }
        std::fprintf(stderr, "\rseeds: product %04x (%zu of %zu)", products[i].product, i + 1,
                     products.size());
    }
    memorySeeds(products.front());
    std::fprintf(stderr, "\n%d seeds in %s\n", written, root.c_str());
    return 0;
}
