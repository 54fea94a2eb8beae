// The Sensor tab: resolution, pixel clock, bit depth, gain, exposure (on a
// slider, typed, or automatic), black level, restarting the exposure and the
// camera's defaults. Each control's action calls the selected camera and
// shows what it took; nothing reaches the camera while none is selected.
// Window thread only.
#pragma once

#include <QObject>

#include "viewer/settings/exposure_scale.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QWidget;

namespace viewer {

class RadioRow;
class SelectedCamera;
class StatusLine;

class SensorSettings : public QObject {
    Q_OBJECT
  public:
    SensorSettings(const SelectedCamera& camera, StatusLine& status, QObject* parent = nullptr);

    // The tab's page, with its controls; the tab view takes it.
    QWidget* page() const { return tab; }

    // Loads the controls from the camera. A model the user never set up
    // starts at clock 1 under automatic exposure.
    void load(bool firstLoad);
    // Live view measured another rate: under automatic exposure the
    // exposure moved, and the controls show where it is.
    void followAutomaticExposure();
    ExposureRange exposureRange() const { return {fmin, fmax, fstp}; }
    // Pause before the exposure is read back after a resolution or clock
    // change, while the camera settles.
    void setSettleDelay(int ms) { settleDelayMs = ms; }

  signals:
    // The resolution in force, after the user chose one (taken or refused).
    void resolutionShown(int resolution);
    // The camera took another resolution.
    void resolutionChanged();
    // The camera's defaults are in force: the other tabs show them too.
    void defaultsRestored();

  private:
    const char* cam() const;
    void loadBitDepth();
    void loadExposure();
    void exposureReloadLater();
    void showAutomaticExposure(bool on);
    void resolutionChosen();
    void clockChosen();
    void depthChosen();
    void gainMoved();
    void exposureMoved();
    void exposureTyped();
    void automaticExposureClicked();
    void blackLevelMoved();
    void restoreDefaults();

    const SelectedCamera& camera;
    StatusLine& status;
    float fmin = 0, fmax = 0, fstp = 1;  // exposure range
    int settleDelayMs = 1000;

    QWidget* tab;
    QComboBox* pouRes;
    QComboBox* pouClk;
    RadioRow* radBit;  // column 0: 8 bits, column 1: 16 bits
    QSlider* sldGain;
    QLabel* txtGain;
    QSlider* sldTime;    // logarithmic over the camera's range
    QLineEdit* txtTime;  // milliseconds, or typed with a unit
    QCheckBox* chkAE;
    QLabel* tilBlvl;
    QSlider* sldBlvl;
    QLabel* txtBlvl;
    QPushButton* btnRestart;
    QPushButton* btnReset;
};

}  // namespace viewer
