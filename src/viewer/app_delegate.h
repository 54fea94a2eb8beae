// The viewer's controller: start-up and shut-down, hot-plug and camera
// changes, loading the controls from the selected camera, live view and every
// control's action. It reaches cameras only through the SDK's call surface,
// naming the selected camera by camName, and runs on the window's thread;
// the live threads reach it only through queued calls.
#pragma once

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <map>
#include <string>

#include "viewer/calibration/calibration_dialog.h"
#include "viewer/calibration/master_taker.h"
#include "viewer/capture/movie_session.h"
#include "viewer/live/live_controller.h"
#include "viewer/picture/picture_tools.h"
#include "viewer/picture/region_of_interest.h"
#include "viewer/outlets.h"
#include "viewer/recording/raw_recording.h"
#include "viewer/session/model_memory.h"
#include "viewer/session/selected_camera.h"
#include "viewer/session/status_line.h"
#include "viewer/settings/settings_tabs.h"
#include "viewer/settings/exposure_scale.h"

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSlider;

namespace viewer {

struct ShownFrame;
class ViewerWindow;

// The product that records no movie at its first (largest) resolution.
inline constexpr int kNoMovieAtFirstResolution = 0xA003;

// The base name of a still taken at `when`: the capture directory text and
// the month, day, hour, minute and second as ten digits.
QString captureBaseName(const QString& directory, const QDateTime& when);

class AppDelegate : public QObject, public Outlets {
    Q_OBJECT
  public:
    explicit AppDelegate(QObject* parent = nullptr);
    ~AppDelegate() override;

    // The window whose controls this controller drives; connects their actions.
    void setWindow(ViewerWindow* window);
    ViewerWindow* window() const { return mainWindow; }

    // ---- Lifecycle --------------------------------------------------------
    // Reads the settings file, lists the cameras and selects the first.
    void applicationDidFinishLaunching();
    // Stops live view (waiting for its threads), finishes a movie, closes the
    // cameras and writes the settings. Safe to call twice.
    void applicationShouldTerminate();
    // Hot-plug handler given to InitDevice.
    static void hotPlugHandler(void* receiver, const char* name, int event);
    // Log handler given to the SDK: its messages show in the status line.
    static void logHandler(void* receiver, int level, const char* message);
    void refreshDevices(const QString& name, int event);
    void devChangeAction(QComboBox* sender);
    void refreshUI();
    // Presses Live once a camera is loaded (now, or when the first arrives).
    void startLiveWhenReady();

    // ---- Actions ------------------------------------------------------------
    void btnCalibAction(QAbstractButton* sender);
    void chkRawAction(QCheckBox* sender);
    void chkTifAction(QCheckBox* sender);
    void chkPngAction(QCheckBox* sender);
    void chkJpgAction(QCheckBox* sender);
    void chkBmpAction(QCheckBox* sender);
    void btnCaptureAction(QAbstractButton* sender);
    void btnBrowseAction(QAbstractButton* sender);
    void btnAcquieMovie(QAbstractButton* sender);
    // Starts a raw recording (and live view if it is off), or stops it.
    void btnRawAction(QAbstractButton* sender);
    // The picture's camera actions (app_picture.cpp).

    // ---- State ------------------------------------------------------------------
    SelectedCamera selected;              // empty for none
    StatusLine status{selected};
    int cntDevConnect = 0;                // cameras connected
    int cntRunDevLeft = 0;                // unplugs of the live camera not yet handled
    int snapType = 31;                    // still formats: 1 RAW, 2 TIFF, 4 PNG, 8 JPEG, 16 BMP
    MovieSession movie;
    RawRecording raw;
    MasterTaker master;  // calibration masters from the live frames
    int shownResolution = 0;  // the resolution in force, as the controls show it
    // The calibration's button, on the Image tab.
    QPushButton* calibrationButton;
    SettingsTabs settings;
    PictureTools tools;
    LiveController live{selected, status, *tools.view()};

    bool liveRunning() const { return live.running(); }
    bool bSaveVideo() const { return movie.recording(); }
    QString documentsDirectory() const { return documents; }
    QString settingsFilePath() const;
    PictureTools* pictureTools() { return &tools; }
    CalibrationDialog* calibrationDialog() const { return calibration; }
    ExposureRange exposureRange() { return settings.sensor().exposureRange(); }

  signals:
    // A still was asked for: the base name given to the camera and its answer.
    void stillRequested(const QString& base, int result);
    // Live view has ended and its threads are gone.
    void liveEnded();

  private:
    const char* cam() const { return selected.c_str(); }
    QString captureFolder() const;
    void liveViewEnded();
    // The still size and the movie button for the camera at `resolution`.
    void resolutionShown(int resolution);
    // The movie button for the camera at `resolution`.
    void updateMovieButton(int resolution);
    void setFormatBit(int bit, bool on);
    // The controls that only act on a camera.
    void setCameraControlsEnabled(bool on);
    // The raw recording's button and choices for the recording's state.
    void updateRawControls();
    void rawRecordingEnded(const QString& summary);
    // Facts of the camera and resolution in force for the picture's tools.
    void pictureToolsFollowCamera();
    int binningInForce() const;
    // A still with the scale bar burned in, from a shown frame's raw frame.
    void writeStillWithBar(const ShownFrame& frame, const QString& base);
    void connectPictureActions();

    ViewerWindow* mainWindow = nullptr;
    QTimer hotPlugTimer;
    QString documents;  // the user's documents directory and "/"
    bool launched = false;
    bool terminated = false;
    bool liveWanted = false;

    RegionOfInterest region{selected, status, *tools.view()};
    QPointer<CalibrationDialog> calibration;  // open for camName, or null
    ModelMemory memory;
    // Cameras loaded this session, by name, with their model's key: their
    // parameter sets hold what the user set once the SDK saved them.
    std::map<std::string, QString> loadedModels;
    QString stillWithBar;  // base name of a still waiting for the next shown frame
};

}  // namespace viewer
