// The calibration dialog: switches raw calibration on, chooses the library
// and the objective's flats, takes dark, flat and bias masters from raw
// frames (live view stopped) and shows which masters apply and why.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QSpinBox;

namespace viewer {

class CalibrationDialog : public QDialog {
    Q_OBJECT
  public:
    // `liveRunning` tells whether the live view holds the camera's frames.
    CalibrationDialog(std::string camera, std::function<bool()> liveRunning,
                      QWidget* parent = nullptr);

    QCheckBox* enabled() const { return chkOn; }
    QPlainTextEdit* report() const { return txtReport; }
    // Takes a master of `kind` (EZ_MASTER_*); false, with the reason shown, on failure.
    bool takeMaster(int kind);
    void refresh();

  signals:
    void changed();  // the switch, library or label: the status line follows

  private:
    void applyMatch();

    std::string camera;
    std::function<bool()> live;
    QCheckBox* chkOn;
    QLineEdit* txtLibrary;
    QLineEdit* txtLabel;
    QSpinBox* spnFrames;
    QPlainTextEdit* txtReport;
};

// The masters in use by kind ("dark", "flat", "bias") as file names, for a
// raw recording's metadata; none when calibration is off.
std::vector<std::pair<std::string, std::string>> mastersByKind(const char* camera);
// The same for the status line ("" when calibration is off).
QString mastersInUse(const char* camera);

}  // namespace viewer
