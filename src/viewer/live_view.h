// The live picture: the newest display image, scaled to the widget with its
// aspect kept. present() may be called from any thread; the picture changes on
// the widget's own thread.
#pragma once

#include <QImage>
#include <QWidget>
#include <atomic>

#include "viewer/display_frame.h"

namespace viewer {

class HistogramView;

class LiveView : public QWidget {
    Q_OBJECT
  public:
    explicit LiveView(QWidget* parent = nullptr);

    // The histogram shown beside the picture, if any.
    void setHistogramView(HistogramView* view) { histogramView = view; }
    // While set, frames are not drawn (the window is minimised).
    void setSuspended(bool suspended) { this->suspended = suspended; }

    // Any thread: shows the frame unless the previous one is still on its
    // way to the screen (then this one is dropped, so a slow window never
    // queues frames). The pixels are copied before the call returns.
    void present(const DisplayFrame& frame);

    const QImage& image() const { return picture; }
    // Where the picture is drawn, in widget coordinates.
    QRect pictureRect() const;
    int framesDrawn() const { return drawn; }

    QSize sizeHint() const override { return {800, 600}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void show(const QImage& image, const Histogram& histogram);

    QImage picture;
    HistogramView* histogramView = nullptr;
    int drawn = 0;
    std::atomic<bool> suspended{false};
    std::atomic<bool> inFlight{false};
    // Used by the presenting thread only.
    ImagePool pool;
    Histogram histogram;
};

}  // namespace viewer
