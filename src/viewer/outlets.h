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
class QTabWidget;
class QWidget;

namespace viewer {

class HistogramView;
class LiveView;
class RadioRow;

struct Outlets {
    LiveView* pView = nullptr;         // live picture
    HistogramView* hstView = nullptr;  // histogram of the live picture
    QTabWidget* tabView = nullptr;
    QWidget* tabItemColr = nullptr;  // colour tab, at index 1 for colour cameras
    QComboBox* pouDev = nullptr;     // connected cameras
    QLabel* txtDev = nullptr;        // connect / disconnect news
    QPushButton* btnLive = nullptr;  // "Live" / "Stop"
    QLabel* txtFPS = nullptr;        // frame rate
    QLabel* txtStatus = nullptr;     // camera, resolution, depth, exposure
    QLabel* txtPixel = nullptr;      // the pixel under the cursor
    QProgressBar* prgExposure = nullptr;  // a long exposure in flight

    QComboBox* pouRes = nullptr;  // resolutions
    QComboBox* pouSav = nullptr;  // resolutions, for show
    QComboBox* pouClk = nullptr;  // pixel clocks
    RadioRow* radBit = nullptr;   // column 0: 8 bits, column 1: 16 bits
    QSlider* sldGain = nullptr;
    QLabel* txtGain = nullptr;
    QSlider* sldTime = nullptr;    // logarithmic over the camera's range
    QLineEdit* txtTime = nullptr;  // milliseconds, or typed with a unit
    QCheckBox* chkAE = nullptr;
    QSlider* sldBlvl = nullptr;
    QLabel* txtBlvl = nullptr;
    QLabel* tilBlvl = nullptr;
    QPushButton* btnRestart = nullptr;
    QPushButton* btnReset = nullptr;

    QLineEdit* txtPath = nullptr;  // capture directory, ends with "/"
    QPushButton* btnBrowse = nullptr;
    QCheckBox* chkRaw = nullptr;
    QCheckBox* chkTif = nullptr;
    QCheckBox* chkPng = nullptr;
    QCheckBox* chkJpg = nullptr;
    QCheckBox* chkBmp = nullptr;
    QPushButton* btnSnap = nullptr;
    QPushButton* btnMovie = nullptr;  // "Start Video" / "Stop Video"

    QCheckBox* chkFF = nullptr;
    QPushButton* btnFF = nullptr;
    QCheckBox* chkHF = nullptr;
    QCheckBox* chkVF = nullptr;
    QSlider* sldGamma = nullptr;
    QLabel* txtGamma = nullptr;
    QSlider* sldContrast = nullptr;
    QLabel* txtContrast = nullptr;

    QCheckBox* chkMono = nullptr;
    QCheckBox* chkColor = nullptr;
    QPushButton* btnWB = nullptr;
    QLabel* txtWB = nullptr;
    QSlider* sldRed = nullptr;
    QLabel* txtRed = nullptr;
    QSlider* sldGreen = nullptr;
    QLabel* txtGreen = nullptr;
    QSlider* sldBlue = nullptr;
    QLabel* txtBlue = nullptr;
    QSlider* sldSaturation = nullptr;
    QLabel* txtSaturation = nullptr;

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
