// Combining raw frames into a master: the frames wait in a temporary file
// (a master may take more frames than memory holds), then each pixel's
// values are averaged with sigma clipping, band by band of rows.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace calib {

class FrameStack {
  public:
    FrameStack(int width, int height, int depth);
    ~FrameStack();
    FrameStack(const FrameStack&) = delete;
    FrameStack& operator=(const FrameStack&) = delete;

    // One frame: width x height samples of the depth, 16-bit ones in host order.
    bool add(const unsigned char* samples, std::string& error);
    int count() const { return count_; }
    // Per pixel: the mean of its values after rejecting, again and again
    // (at most 5 times), those further than `kappa` standard deviations
    // from their median. At least 3 frames are needed to reject any.
    // `temporalVariance`, when given, receives the mean over the pixels of
    // the variance of each pixel's kept values: the noise from frame to frame.
    bool combine(float kappa, std::vector<float>& out, std::string& error,
                 double* temporalVariance = nullptr) const;

  private:
    int width_, height_, bytes_;
    std::FILE* file_ = nullptr;
    int count_ = 0;
};

// Divides a flat by the mean of each of its Bayer channels (the 2 x 2 sites;
// monochrome: the whole). False when a channel has no light.
bool normaliseFlat(std::vector<float>& flat, int width, int height, int bayer);

// Pixels of a dark far above the others of their Bayer channel: more than
// kHotSigma robust standard deviations (at least `floor` each) above the
// channel's median. Sample indices, in order.
constexpr double kHotSigma = 6.0;
std::vector<uint32_t> hotPixels(const std::vector<float>& dark, int width, int height, int bayer,
                                double floor);

}  // namespace calib
