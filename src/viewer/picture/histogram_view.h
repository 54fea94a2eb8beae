// A small live histogram of the displayed image.
#pragma once

#include <QWidget>

#include "viewer/live/display_frame.h"

namespace viewer {

class HistogramView : public QWidget {
    Q_OBJECT
  public:
    explicit HistogramView(QWidget* parent = nullptr);
    void setHistogram(const Histogram& histogram);
    const Histogram& histogram() const { return shown; }
    // Heights by the logarithm of the counts, so a few pixels beside a large
    // peak (a clipped highlight) stay visible; by their square root otherwise.
    void setLogarithmic(bool on);
    bool logarithmic() const { return logCounts; }
    QSize sizeHint() const override { return {256, 72}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    Histogram shown;
    bool logCounts = false;
};

}  // namespace viewer
