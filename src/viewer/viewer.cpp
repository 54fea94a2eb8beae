// The viewer: its pieces wired together.
#include "viewer/viewer.h"

#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <QStandardPaths>

#include "ezcam.h"
#include "viewer/captions.h"
#include "viewer/picture/live_view.h"
#include "viewer/picture/scale_bar.h"
#include "viewer/viewer_window.h"

namespace viewer {

Viewer::Viewer(QObject* parent)
    : QObject(parent),
      calibrationControls(
          selected, status,
          {[this] { return liveView.running(); },
           [this](bool on) {
               // A recording started meanwhile keeps the live view it needs.
               if (on != liveView.running() && (on || !rawRecording.recording().recording()))
                   liveView.toggle();
           }}),
      colour(selected, status, *pictureTools.view(),
             {[this] { return liveView.running(); },
              [this](bool on) {
                  if (on != liveView.running()) liveView.toggle();
              },
              [this]() -> QString {
                  if (rawRecording.recording().recording()) return L("a raw recording is running");
                  if (calibrationControls.masters().busy()) return L("a calibration master is being taken");
                  return {};
              }}),
      settingsTabs(
          selected, status, [this] { return liveView.newestFrame(); },
          calibrationControls.button(), colour.button()),
      shown(std::make_unique<ViewerWindow>(WindowParts{pictureTools, cameras, liveView,
                                                       settingsTabs, folder, stillCapture,
                                                       movieCapture, rawRecording, status})) {
    connectPieces();
}

Viewer::~Viewer() {
    terminate();
    shown.reset();
}

void Viewer::connectPieces() {
    // What the live threads hand on: every raw frame to the recording and the
    // master being taken, every shown frame to the movie.
    RawRecording& raw = rawRecording.recording();
    liveView.addReader({[&raw] { return raw.wantsFrames(); },
                        [&raw](int r, const unsigned char* frame, const EzFrameInfo& info) {
                            raw.frameRead(r, frame, info);
                        }});
    MasterTaker& master = calibrationControls.masters();
    liveView.addReader({[&master] { return master.wantsFrames(); },
                        [&master](int r, const unsigned char* frame, const EzFrameInfo& info) {
                            master.frameRead(r, frame, info);
                        }});
    liveView.addViewer([this](const DisplayFrame& frame) { movieCapture.frameShown(frame); });

    connect(&liveView, &LiveController::runningChanged, &cameras, &CameraSession::lockList);
    connect(&liveView, &LiveController::captureRequested, &stillCapture, &StillCapture::take);
    connect(&liveView, &LiveController::rateMeasured, this, [this] {
        // Automatic exposure moves the exposure: show where it is.
        settingsTabs.sensor().followAutomaticExposure();
        status.refresh();
    });
    connect(&liveView, &LiveController::ended, this, &Viewer::liveViewEnded);

    connect(&cameras, &CameraSession::arrived, this, [this] {
        if (liveWanted) startLiveWhenReady();
    });
    connect(&cameras, &CameraSession::leaving, this, [this] {
        rawRecording.recording().stop(L("another camera was chosen"));
        calibrationControls.close();  // it was the other camera's
        colour.cancel();
        pictureTools.view()->clearPicture();
        stillCapture.forget();  // it was the other camera's
    });
    connect(&cameras, &CameraSession::loaded, this, &Viewer::cameraLoaded);
    connect(&cameras, &CameraSession::closed, this, &Viewer::cameraClosed);

    SensorSettings& sensor = settingsTabs.sensor();
    connect(&sensor, &SensorSettings::resolutionShown, this, [this](int resolution) {
        stillCapture.showResolution(resolution);
        movieCapture.showResolution(resolution);
    });
    connect(&sensor, &SensorSettings::resolutionChanged, this, &Viewer::followResolution);

    connect(pictureTools.view(), &LiveView::regionDrawn, &region, &RegionOfInterest::regionDrawn);
    connect(&pictureTools, &PictureTools::wholeFrameAsked, &region, &RegionOfInterest::wholeFrame);
    connect(&colour, &ColourCalibration::calibrated, &settingsTabs.colour(), &ColourSettings::useProfile);
    connect(&pictureTools, &PictureTools::objectiveChosen, &cameras,
            &CameraSession::rememberObjective);
}

QString Viewer::settingsFilePath() const {
    return documents + QStringLiteral("PhotosPath.txt");
}

// ---- Start-up and shut-down -----------------------------------------------------

void Viewer::launch() {
    settingsTabs.showFirst();
    documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + '/';
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation) + '/';
    folder.load(settingsFilePath(), desktop);
    // Parameter sets and the settings file live there; it may not exist yet.
    QDir().mkpath(documents);
    setCameraControlsEnabled(false);  // until a camera is loaded
    launched = true;
    cameras.start(documents);
    status.refresh();
}

void Viewer::terminate() {
    if (!launched || terminated) return;
    terminated = true;
    cameras.stopWatching();
    // The cameras close below: every live thread must have left its camera
    // calls first.
    liveView.stopAndWait();
    rawRecording.recording().stopAndWait(L("the viewer quit"));
    calibrationControls.stopAndWait();
    colour.stopAndWait();
    movieCapture.finish();
    cameras.finish();
    QDir().mkpath(documents);
    if (!folder.save(settingsFilePath()))
        viewerLog(QStringLiteral("cannot write ") + settingsFilePath());
    shown->saveWindowGeometry();
}

// ---- Cameras opened and closed ----------------------------------------------------

void Viewer::cameraLoaded(bool firstLoad) {
    settingsTabs.load(firstLoad);
    stillCapture.load();
    movieCapture.showResolution(GetResolution(selected.c_str()));
    setCameraControlsEnabled(true);
    liveView.setCameraLoaded(true);
    pictureTools.chooseObjective(cameras.rememberedObjective());
    followResolution();
    status.refresh();
}

void Viewer::cameraClosed() {
    // Nothing to show: no live view can start, no setting reaches a camera.
    calibrationControls.close();
    colour.cancel();
    liveView.setCameraLoaded(false);
    setCameraControlsEnabled(false);
    pictureTools.view()->clearPicture();
    status.refresh();
}

void Viewer::setCameraControlsEnabled(bool on) {
    // The folder stays open to change, and the movie button to stop a movie.
    settingsTabs.setEnabled(on);
    stillCapture.setCameraOpen(on);
    pictureTools.setRegionToolsEnabled(on);
    rawRecording.showState();
}

void Viewer::followResolution() {
    int binning = 1;
    if (!selected.none()) {
        const char* cam = selected.c_str();
        const int r = GetResolution(cam);
        const char* label = GetResItemName(r, cam);
        binning = binningOf(QString::fromUtf8(label ? label : ""), GetResWidth(r, cam),
                            GetResWidth(0, cam));
    }
    pictureTools.setBinning(binning);
    pictureTools.resetFocus();
}

// ---- Live view ---------------------------------------------------------------------

void Viewer::startLiveWhenReady() {
    liveWanted = true;
    if (selected.none() || !liveView.ready() || liveView.running() || terminated) return;
    liveWanted = false;
    liveView.toggle();
}

void Viewer::liveViewEnded() {
    // No more frames: the recording ends with them and its file is completed;
    // a master still taking frames gets no more.
    const QString why =
        cameras.liveCameraLeft() ? L("the camera was unplugged") : L("live view stopped");
    rawRecording.recording().stop(why);
    calibrationControls.masters().liveEnded(why);
    colour.liveEnded();
    cameras.liveEnded();
    emit liveEnded();
    if (liveWanted) startLiveWhenReady();
}

}  // namespace viewer
