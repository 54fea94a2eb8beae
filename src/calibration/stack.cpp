// Sigma-clipped averaging of frames kept in a temporary file, and the
// statistics of a master: flat normalisation and hot pixels.
#include "calibration/stack.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace calib {
namespace {

constexpr size_t kBandBytes = size_t{64} << 20;  // frames' rows read at once
constexpr int kClipRounds = 5;

// The sigma-clipped mean of v[0..n), which it reorders; the kept values'
// variance into `variance`.
float clippedMean(float* v, int n, float kappa, double& variance) {
    for (int round = 0; round < kClipRounds && n >= 3; ++round) {
        double sum = 0, sum2 = 0;
        for (int i = 0; i < n; ++i) sum += v[i];
        const double mean = sum / n;
        for (int i = 0; i < n; ++i) sum2 += (v[i] - mean) * (v[i] - mean);
        const double limit = kappa * std::sqrt(sum2 / (n - 1));
        std::nth_element(v, v + n / 2, v + n);
        const double median = v[n / 2];
        const int kept = static_cast<int>(
            std::partition(v, v + n, [&](float x) { return std::fabs(x - median) <= limit; }) - v);
        if (kept == n || kept == 0) break;
        n = kept;
    }
    double sum = 0, sum2 = 0;
    for (int i = 0; i < n; ++i) sum += v[i];
    const double mean = sum / n;
    for (int i = 0; i < n; ++i) sum2 += (v[i] - mean) * (v[i] - mean);
    variance = n > 1 ? sum2 / (n - 1) : 0;
    return static_cast<float>(mean);
}

// The sites of a Bayer channel (sx, sy: column and row parity), or every
// sample of a monochrome image (one site, step 1).
template <typename F>
void eachChannel(int width, int height, int bayer, F&& f) {
    const int step = bayer ? 2 : 1;
    for (int sy = 0; sy < step; ++sy)
        for (int sx = 0; sx < step; ++sx) {
            std::vector<size_t> at;
            at.reserve(static_cast<size_t>(width / step + 1) * (height / step + 1));
            for (int y = sy; y < height; y += step)
                for (int x = sx; x < width; x += step)
                    at.push_back(static_cast<size_t>(y) * static_cast<size_t>(width) + x);
            f(at);
        }
}

}  // namespace

FrameStack::FrameStack(int width, int height, int depth)
    : width_(width), height_(height), bytes_(depth == 16 ? 2 : 1), file_(std::tmpfile()) {}

FrameStack::~FrameStack() {
    if (file_) std::fclose(file_);
}

bool FrameStack::add(const unsigned char* samples, std::string& error) {
    const size_t n = static_cast<size_t>(width_) * height_ * bytes_;
    if (!file_ || std::fwrite(samples, 1, n, file_) != n || std::fflush(file_) != 0) {
        error = std::string("cannot keep the frame in a temporary file: ") + std::strerror(errno);
        return false;
    }
    ++count_;
    return true;
}

bool FrameStack::combine(float kappa, std::vector<float>& out, std::string& error,
                         double* temporalVariance) const {
    const size_t row = static_cast<size_t>(width_) * bytes_;
    const size_t frame = row * height_;
    if (count_ == 0 || !file_) {
        error = "no frames to combine";
        return false;
    }
    const size_t bandRows =
        std::clamp<size_t>(kBandBytes / (row * count_), 1, static_cast<size_t>(height_));
    std::vector<unsigned char> band(bandRows * row * count_);
    std::vector<float> values(static_cast<size_t>(count_));
    out.assign(static_cast<size_t>(width_) * height_, 0.0f);
    const int fd = fileno(file_);
    double varianceSum = 0;
    for (size_t y0 = 0; y0 < static_cast<size_t>(height_); y0 += bandRows) {
        const size_t rows = std::min(bandRows, height_ - y0);
        const size_t bytes = rows * row;
        for (int k = 0; k < count_; ++k) {
            const off_t at = static_cast<off_t>(k * frame + y0 * row);
            if (pread(fd, band.data() + k * bytes, bytes, at) != static_cast<ssize_t>(bytes)) {
                error = std::string("cannot read the frames back: ") + std::strerror(errno);
                return false;
            }
        }
        for (size_t i = 0; i < rows * width_; ++i) {
            for (int k = 0; k < count_; ++k) {
                const unsigned char* p = band.data() + k * bytes + i * bytes_;
                uint16_t v = p[0];
                if (bytes_ == 2) std::memcpy(&v, p, 2);
                values[k] = v;
            }
            double variance = 0;
            out[y0 * width_ + i] = clippedMean(values.data(), count_, kappa, variance);
            varianceSum += variance;
        }
    }
    if (temporalVariance) *temporalVariance = varianceSum / static_cast<double>(out.size());
    return true;
}

bool normaliseFlat(std::vector<float>& flat, int width, int height, int bayer) {
    bool lit = true;
    eachChannel(width, height, bayer, [&](const std::vector<size_t>& at) {
        double sum = 0;
        for (size_t i : at) sum += flat[i];
        const double mean = at.empty() ? 0 : sum / static_cast<double>(at.size());
        if (!(mean > 0)) {
            lit = false;
            return;
        }
        const float inverse = static_cast<float>(1.0 / mean);
        for (size_t i : at) flat[i] *= inverse;
    });
    return lit;
}

std::vector<uint32_t> hotPixels(const std::vector<float>& dark, int width, int height, int bayer,
                                double floor) {
    std::vector<uint32_t> hot;
    eachChannel(width, height, bayer, [&](const std::vector<size_t>& at) {
        if (at.empty()) return;
        std::vector<float> v(at.size());
        for (size_t k = 0; k < at.size(); ++k) v[k] = dark[at[k]];
        const size_t mid = v.size() / 2;
        std::nth_element(v.begin(), v.begin() + mid, v.end());
        const double median = v[mid];
        for (float& x : v) x = static_cast<float>(std::fabs(x - median));
        std::nth_element(v.begin(), v.begin() + mid, v.end());
        const double sigma = std::max(1.4826 * v[mid], floor);
        const double limit = median + kHotSigma * sigma;
        for (size_t i : at)
            if (dark[i] > limit) hot.push_back(static_cast<uint32_t>(i));
    });
    std::sort(hot.begin(), hot.end());
    return hot;
}

}  // namespace calib
