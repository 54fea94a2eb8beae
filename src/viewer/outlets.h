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
    QComboBox* pouDev = nullptr;     // connected cameras
    QLabel* txtDev = nullptr;        // connect / disconnect news

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
};

}  // namespace viewer
