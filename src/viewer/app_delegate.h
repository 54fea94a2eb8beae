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
#include "viewer/live/frame_watch.h"
#include "viewer/live/grab_context.h"
#include "viewer/live/live_threads.h"
#include "viewer/outlets.h"
#include "viewer/recording/raw_recording.h"
#include "viewer/session/model_memory.h"
#include "viewer/settings/exposure_scale.h"

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QSlider;

namespace viewer {

class PictureTools;
struct ShownFrame;
class ViewerWindow;

// Exposures from this long on show their progress in the status line.
inline constexpr float kLongExposureMs = 500;

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
    bool initGrabContext();
    void exitGrabContext();
    // Presses Live once a camera is loaded (now, or when the first arrives).
    void startLiveWhenReady();

    // ---- Actions ------------------------------------------------------------
    void btnLiveAction(QAbstractButton* sender);
    void resChangeAction(QComboBox* sender);
    void savChangeAction(QComboBox* sender);
    void clkChangeAction(QComboBox* sender);
    void radBitAction(RadioRow* sender);
    void btnRestartAction(QAbstractButton* sender);
    void sldGainAction(QSlider* sender);
    void sldTimeAction(QSlider* sender);
    void chkAEAction(QCheckBox* sender);
    void sldBklvlAction(QSlider* sender);
    void btnResetAction(QAbstractButton* sender);
    void sldGammaAction(QSlider* sender);
    void sldContrastAction(QSlider* sender);
    void chkHFlipAction(QCheckBox* sender);
    void chkVFlioAction(QCheckBox* sender);
    void chkMonoAction(QCheckBox* sender);
    void chkColorAction(QCheckBox* sender);
    void sldRedAction(QSlider* sender);
    void sldGreenAction(QSlider* sender);
    void sldBlueAction(QSlider* sender);
    void sldSaturationAction(QSlider* sender);
    void btnWBAction(QAbstractButton* sender);
    void chkFFAction(QCheckBox* sender);
    void btnFFAction(QAbstractButton* sender);
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
    void txtTimeAction(QLineEdit* sender);
    void regionDrawn(const QRect& pixels);
    void btnClearRegionAction();
    void updateExposureProgress();

    // ---- State ------------------------------------------------------------------
    std::string camName;                  // selected camera; empty for none
    int cntDevConnect = 0;                // cameras connected
    int cntRunDevLeft = 0;                // unplugs of the live camera not yet handled
    int snapType = 31;                    // still formats: 1 RAW, 2 TIFF, 4 PNG, 8 JPEG, 16 BMP
    int flipType = 0;                     // 1 horizontal, 2 vertical
    int red = 64, green = 64, blue = 64;  // channel gains last read or sent
    float fmin = 0, fmax = 0, fstp = 1;   // exposure range
    int dustm = 0;                        // milliseconds of the last ten displayed frames
    GenericGrabContext ctxGrab;
    MovieSession movie;
    RawRecording raw;
    MasterTaker master;  // calibration masters from the live frames
    // Pause before the exposure is read back after a resolution or clock
    // change, while the camera settles.
    int settleDelayMs = 1000;

    bool liveRunning() const { return live.started(); }
    bool bSaveVideo() const { return movie.recording(); }
    QString documentsDirectory() const { return documents; }
    QString settingsFilePath() const;
    PictureTools* pictureTools() const { return tools; }
    CalibrationDialog* calibrationDialog() const { return calibration; }
    ExposureRange exposureRange() const { return {fmin, fmax, fstp}; }

  signals:
    // A still was asked for: the base name given to the camera and its answer.
    void stillRequested(const QString& base, int result);
    // Live view has ended and its threads are gone.
    void liveEnded();

  private:
    const char* cam() const { return camName.c_str(); }
    QString captureFolder() const;
    void liveThreadsEnded();
    void finishLive();
    void loadBitDepth();
    void loadExposure();
    void exposureReloadLater();
    // The movie button for the camera at `resolution`.
    void updateMovieButton(int resolution);
    void loadChannelGains();
    void setFormatBit(int bit, bool on);
    void setFlipBit(int bit, bool on);
    void updateStatusLine();
    // The controls that only act on a camera.
    void setCameraControlsEnabled(bool on);
    // The raw recording's button and choices for the recording's state.
    void updateRawControls();
    void rawRecordingEnded(const QString& summary);
    // A message in the status line, for `timeoutMs` (0: until the next one).
    void note(const QString& message, int timeoutMs = 5000);
    // Facts of the camera and resolution in force for the picture's tools.
    void pictureToolsFollowCamera();
    int binningInForce() const;
    // A still with the scale bar burned in, from a shown frame's raw frame.
    void writeStillWithBar(const ShownFrame& frame, const QString& base);
    void connectPictureActions();

    ViewerWindow* mainWindow = nullptr;
    LiveThreads live;
    QTimer hotPlugTimer;
    QString documents;  // the user's documents directory and "/"
    bool launched = false;
    bool terminated = false;
    bool liveWanted = false;

    PictureTools* tools = nullptr;
    QPointer<CalibrationDialog> calibration;  // open for camName, or null
    ModelMemory memory;
    // Cameras loaded this session, by name, with their model's key: their
    // parameter sets hold what the user set once the SDK saved them.
    std::map<std::string, QString> loadedModels;
    QString stillWithBar;  // base name of a still waiting for the next shown frame
    QTimer exposureTimer;
    // When the newest live frame arrived, for the exposure's progress and
    // to say when the camera goes quiet.
    FrameWatch watch;
};

}  // namespace viewer
