// Movies of the live picture.
#include "viewer/capture/movie_capture.h"

#include <QPushButton>

#include "ezcam.h"
#include "viewer/captions.h"
#include "viewer/capture/capture_folder.h"
#include "viewer/live/live_controller.h"
#include "viewer/session/selected_camera.h"
#include "viewer/session/status_line.h"
#include "viewer/widgets/control_rows.h"

namespace viewer {

MovieCapture::MovieCapture(const SelectedCamera& selected, StatusLine& statusLine,
                           const CaptureFolder& captureFolder, const LiveController& liveView,
                           QObject* parent)
    : QObject(parent),
      camera(selected),
      status(statusLine),
      folder(captureFolder),
      live(liveView),
      btnMovie(new QPushButton(L("Start Video"))) {
    btnMovie->setToolTip(L("Start or stop recording a movie (V)"));
    nameControls({{btnMovie, "btnMovie"}});
    connect(btnMovie, &QPushButton::clicked, this, &MovieCapture::toggle);
}

const char* MovieCapture::cam() const {
    return camera.c_str();
}

void MovieCapture::showResolution(int shown) {
    resolution = shown;
    // A movie being recorded can always be stopped.
    btnMovie->setEnabled(movie.recording() || DeviceProduct(cam()) != kNoMovieAtFirstResolution ||
                         resolution != 0);
}

void MovieCapture::toggle() {
    if (movie.recording()) {
        movie.stop();
        btnMovie->setText(L("Start Video"));
        if (!camera.none()) showResolution(resolution);
        const std::string error = movie.lastError();
        status.note(error.empty() ? L("Movie: %1").arg(QString::fromStdString(movie.path()))
                                  : QString::fromStdString(error));
        return;
    }
    if (camera.none()) return;
    const QString path = folder.baseNameNow() + ".mov";
    const int r = GetResolution(cam());
    const int fps = MovieFrameRate(live.frameIntervalMs());
    if (!movie.start(path.toStdString(), GetResWidth(r, cam()), GetResHeight(r, cam()),
                     GetImageChannles(cam()), fps,
                     [](const std::string& line) { viewerLog(QString::fromStdString(line)); })) {
        status.note(L("Movie not started: %1").arg(QString::fromStdString(movie.lastError())));
        return;
    }
    btnMovie->setText(L("Stop Video"));
    status.note(L("Recording %1 at %2 frames a second").arg(path).arg(fps));
}

}  // namespace viewer
