// A region of interest drawn on the live picture.
#include "viewer/picture/region_of_interest.h"

#include <memory>

#include "ezcam.h"
#include "viewer/captions.h"
#include "viewer/picture/live_view.h"
#include "viewer/session/selected_camera.h"
#include "viewer/session/status_line.h"

namespace viewer {

RegionOfInterest::RegionOfInterest(const SelectedCamera& selected, StatusLine& statusLine,
                                   const LiveView& picture, QObject* parent)
    : QObject(parent), camera(selected), status(statusLine), view(picture) {}

void RegionOfInterest::regionDrawn(const QRect& pixels) {
    const std::shared_ptr<const ShownFrame> frame = view.frame();
    if (camera.none() || !frame || !frame->map) {
        status.note(L("No frame to place a region on"));
        return;
    }
    const char* cam = camera.c_str();
    const FrameMap& map = *frame->map;
    const QRect raw =
        QRect(map.rawOf(pixels.topLeft()), map.rawOf(pixels.bottomRight())).normalized();
    // Sensor coordinates: the border the pipeline cuts is no part of them,
    // and a frame that is a region already starts at that region's origin.
    int x = 0, y = 0;
    bool regionOn = false;
    GetRoiState(&regionOn, cam);
    const int r = GetResolution(cam);
    if (regionOn && map.raw != QSize(GetResWidth(r, cam) + 8, GetResHeight(r, cam) + 8))
        GetRoi(&x, &y, nullptr, nullptr, cam);
    SetRoi(x + raw.left() - map.borderX, y + raw.top() - map.borderY, raw.width(), raw.height(),
           cam);
    SetRoiState(true, cam);
    int w = 0, h = 0;
    GetRoi(&x, &y, &w, &h, cam);  // as the model accepted it
    status.note(L("Region %1 × %2 at %3, %4").arg(w).arg(h).arg(x).arg(y));
    status.refresh();
}

void RegionOfInterest::wholeFrame() {
    if (camera.none()) return;
    SetRoiState(false, camera.c_str());
    status.note(L("Whole frame"));
    status.refresh();
}

}  // namespace viewer
