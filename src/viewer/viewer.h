// The viewer: its pieces, wired together, and the window that shows them.
// Each piece owns its controls and talks to the selected camera through the
// SDK's call surface; this only connects what one piece tells to what
// another does (a camera opened or left, live view started or ended, the
// resolution in force, a frame read or shown) and runs start-up and
// shut-down in their order. Window thread only.
#pragma once

#include <QObject>
#include <QString>
#include <memory>

#include "viewer/calibration/calibration_controls.h"
#include "viewer/calibration/colour_calibration.h"
#include "viewer/capture/capture_folder.h"
#include "viewer/capture/movie_capture.h"
#include "viewer/capture/still_capture.h"
#include "viewer/live/live_controller.h"
#include "viewer/picture/picture_tools.h"
#include "viewer/picture/region_of_interest.h"
#include "viewer/recording/raw_recording_controls.h"
#include "viewer/session/camera_session.h"
#include "viewer/session/selected_camera.h"
#include "viewer/session/status_line.h"
#include "viewer/settings/settings_tabs.h"

namespace viewer {

class ViewerWindow;

class Viewer : public QObject {
    Q_OBJECT
  public:
    explicit Viewer(QObject* parent = nullptr);
    // Shuts down first; then the window, and every dialog with it, goes
    // before the pieces they report to.
    ~Viewer() override;

    ViewerWindow& window() const { return *shown; }

    // Reads the settings file, starts the SDK, lists the cameras and opens
    // the first.
    void launch();
    // Stops live view (waiting for its threads), ends a raw recording, a
    // master and a movie, shuts the SDK down and writes the settings. Safe
    // to call twice.
    void terminate();
    // Presses Live once a camera is loaded (now, or when the first arrives).
    void startLiveWhenReady();

    QString settingsFilePath() const;

    // ---- The pieces ---------------------------------------------------------
    const SelectedCamera& camera() const { return selected; }
    CameraSession& session() { return cameras; }
    LiveController& live() { return liveView; }
    PictureTools& picture() { return pictureTools; }
    SettingsTabs& settings() { return settingsTabs; }
    StillCapture& stills() { return stillCapture; }
    MovieCapture& movies() { return movieCapture; }
    RawRecordingControls& raw() { return rawRecording; }
    CalibrationControls& calibration() { return calibrationControls; }
    ColourCalibration& colourCalibration() { return colour; }

  signals:
    // Live view has ended, its threads are gone, and an unplugged camera has
    // been left for another.
    void liveEnded();

  private:
    void connectPieces();
    void cameraLoaded(bool firstLoad);
    void cameraClosed();
    void liveViewEnded();
    // The controls that only act on a camera.
    void setCameraControlsEnabled(bool on);
    // The picture's tools follow the resolution in force.
    void followResolution();

    QString documents;  // the user's documents directory and "/"
    bool launched = false;
    bool terminated = false;
    bool liveWanted = false;

    SelectedCamera selected;
    StatusLine status{selected};
    CaptureFolder folder;
    PictureTools pictureTools;
    LiveController liveView{selected, status, *pictureTools.view()};
    CameraSession cameras{selected, status, liveView};
    CalibrationControls calibrationControls;
    ColourCalibration colour;
    SettingsTabs settingsTabs;
    StillCapture stillCapture{selected, status, folder, liveView, pictureTools};
    MovieCapture movieCapture{selected, status, folder, liveView};
    RawRecordingControls rawRecording{selected, status, folder, liveView, pictureTools};
    RegionOfInterest region{selected, status, *pictureTools.view()};
    // Last, so that it goes first.
    std::unique_ptr<ViewerWindow> shown;
};

}  // namespace viewer
