// A region of interest drawn on the live picture, set on the selected camera
// in its sensor's coordinates, and the whole frame again. Window thread only.
#pragma once

#include <QObject>
#include <QRect>

namespace viewer {

class LiveView;
class SelectedCamera;
class StatusLine;

class RegionOfInterest : public QObject {
    Q_OBJECT
  public:
    RegionOfInterest(const SelectedCamera& camera, StatusLine& status, const LiveView& view,
                     QObject* parent = nullptr);

    // A region dragged out on the picture: finished-image pixels of the frame shown.
    void regionDrawn(const QRect& pixels);
    void wholeFrame();

  private:
    const SelectedCamera& camera;
    StatusLine& status;
    const LiveView& view;
};

}  // namespace viewer
