// The live picture: the newest shown frame, fitted to the widget or zoomed
// and panned, with the clipping overlay, the scale bar, the pixel readout and
// regions drawn by dragging. present() may be called from any thread; the
// picture changes on the widget's own thread.
#pragma once

#include <QImage>
#include <QWidget>
#include <atomic>
#include <memory>
#include <mutex>

#include "viewer/live/display_frame.h"
#include "viewer/picture/shown_frame.h"
#include "viewer/picture/view_render.h"
#include "viewer/picture/view_transform.h"

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
    // queues frames). Only the visible part is scaled here. The pixels are
    // copied before the call returns.
    void present(const DisplayFrame& frame, const FrameSettings& settings = {});

    // ---- Window thread ------------------------------------------------------
    // The shown frame's picture at full size (a shared copy: it stays valid
    // while newer frames arrive).
    QImage image() const { return current ? current->picture : QImage(); }
    std::shared_ptr<const ShownFrame> frame() const { return current; }
    // Forgets the frame (no camera).
    void clearPicture();
    // Where the whole picture lies, in widget coordinates.
    QRect pictureRect() const;
    // View to image coordinates for the frame shown now.
    ViewTransform transform() const;
    // What is drawn: the visible part, scaled.
    const RenderedView& rendered() const { return view; }
    int framesDrawn() const { return drawn; }

    bool fitting() const;
    double scale() const;  // view pixels per image pixel
    void fitToView();
    // A fixed scale about the widget's centre, or about `about`.
    void zoomTo(double scale, const QPointF* about = nullptr);

    void setClippingShown(bool on);
    bool clippingShown() const;
    // While set, a left drag draws a region (as a drag with Shift does).
    void setRegionTool(bool on) { regionTool = on; }
    // While set, a left drag draws a colour chart's rectangle instead
    // (chartDrawn, not regionDrawn); a drag under way is dropped when it is
    // cleared.
    void setChartTool(bool on);
    // Micrometres per image pixel for the scale bar; 0 shows none.
    void setScaleBar(double micronsPerPixel);

    QSize sizeHint() const override { return {800, 600}; }

  signals:
    // The readout of the pixel under the cursor; empty off the picture.
    void readoutChanged(const QString& text);
    // A region was dragged out: finished-image pixels, inside the picture.
    void regionDrawn(const QRect& pixels);
    // The same for the chart tool.
    void chartDrawn(const QRect& pixels);
    // Zoom or pan changed, or a frame of another size arrived.
    void zoomChanged();
    // A new frame is on screen.
    void frameShown();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    void show(std::shared_ptr<const ShownFrame> shown, const RenderedView& rendered,
              unsigned generation);
    // Zoom, pan, size or overlay changed: draw again from the shown frame.
    void viewChanged();
    void updateReadout();
    QPoint imagePixelAt(QPointF point) const;

    HistogramView* histogramView = nullptr;
    int drawn = 0;
    std::atomic<bool> suspended{false};
    std::atomic<bool> inFlight{false};

    // Shared with the show thread.
    mutable std::mutex viewLock;
    Zoom zoom;
    QSize viewSize;
    bool clipping = false;
    unsigned generation = 0;  // counts changes of the above

    // Used by the presenting thread only.
    FrameKeeper keeper;
    ViewRenderer frameRenderer;

    // Window thread only.
    std::shared_ptr<const ShownFrame> current;
    RenderedView view;
    ViewRenderer windowRenderer;
    double micronsPerPixel = 0;
    bool regionTool = false;
    bool chartTool = false;
    bool cursorInside = false;
    QPointF cursor;
    enum class Drag { None, Pan, Region } drag = Drag::None;
    QPointF dragFrom;
    QPoint regionFrom, regionTo;  // image pixels
};

}  // namespace viewer
