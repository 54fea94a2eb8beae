// The focus aid's figure: how sharp the centre of the picture is.
#pragma once

#include <QImage>
#include <QString>
#include <cstdint>
#include <vector>

namespace viewer {

// The variance of the Laplacian of the grey picture over its centre region
// (the middle half each way, at most 512 x 512 pixels), divided by the
// square of the region's mean and scaled by 1000: it rises as the picture
// comes into focus and does not follow the exposure.
class FocusMeter {
  public:
    double measure(const QImage& picture);

  private:
    std::vector<int32_t> grey;  // the region, one value per pixel
};

// The figure of each frame beside the best one so far.
class FocusRecord {
  public:
    void add(double figure);
    void reset() { best = latest = 0; }
    double bestSoFar() const { return best; }
    QString text() const;

  private:
    double best = 0;
    double latest = 0;
};

}  // namespace viewer
