// The window's controls as the controller knows them. The window builds and
// lays them out; the controller reads, fills and listens to them.
#pragma once

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSlider;
class QSpinBox;
class QTabWidget;
class QWidget;

namespace viewer {

class HistogramView;
class LiveView;
class RadioRow;

struct Outlets {
    LiveView* pView = nullptr;         // live picture
    HistogramView* hstView = nullptr;  // histogram of the live picture
    QComboBox* pouDev = nullptr;     // connected cameras
    QLabel* txtDev = nullptr;        // connect / disconnect news
    QPushButton* btnLive = nullptr;  // "Live" / "Stop"
    QLabel* txtFPS = nullptr;        // frame rate
    QLabel* txtPixel = nullptr;      // the pixel under the cursor
    QProgressBar* prgExposure = nullptr;  // a long exposure in flight

    QComboBox* pouSav = nullptr;  // resolutions, for show

    QLineEdit* txtPath = nullptr;  // capture directory, ends with "/"
    QPushButton* btnBrowse = nullptr;
    QCheckBox* chkRaw = nullptr;
    QCheckBox* chkTif = nullptr;
    QCheckBox* chkPng = nullptr;
    QCheckBox* chkJpg = nullptr;
    QCheckBox* chkBmp = nullptr;
    QPushButton* btnSnap = nullptr;
    QPushButton* btnMovie = nullptr;  // "Start Video" / "Stop Video"
    // Raw recording: container, length in frames or seconds, the button and
    // the running count.
    QComboBox* pouRawFormat = nullptr;  // the recorder's format names
    QSpinBox* spnRawLength = nullptr;
    QComboBox* pouRawUnit = nullptr;  // index 0: frames, 1: seconds
    QPushButton* btnRaw = nullptr;    // "Record Raw" / "Stop Raw"
    QLabel* txtRaw = nullptr;

    QPushButton* btnCalib = nullptr;  // the calibration dialog


    // The picture's tool bar.
    QAction* actFit = nullptr;
    QAction* actOneToOne = nullptr;
    QAction* actTwoToOne = nullptr;
    QAction* actFourToOne = nullptr;
    QLabel* txtZoom = nullptr;
    QAction* actClipping = nullptr;  // clipped pixels in the warning colour
    QAction* actRegion = nullptr;    // the next drag draws a region of interest
    QAction* actClearRegion = nullptr;
    QComboBox* pouObjective = nullptr;  // objectives, and "No objective"
    QAction* actObjectives = nullptr;   // edits them
    QAction* actScaleBar = nullptr;     // on the live picture
    QAction* actBarOnStills = nullptr;  // burned into TIFF, PNG, JPEG and BMP stills
    // Beside the histogram.
    QCheckBox* chkLogHist = nullptr;
    QLabel* txtFocus = nullptr;
    QPushButton* btnFocusReset = nullptr;
    // Keys of the buttons: Space, C, V; and Quit.
    QAction* actLive = nullptr;
    QAction* actCapture = nullptr;
    QAction* actVideo = nullptr;
    QAction* actQuit = nullptr;
};

}  // namespace viewer
