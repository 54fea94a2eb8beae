// The calibration dialog: switches raw calibration on, chooses the library
// and the objective's flats, takes dark, flat and bias masters from the live
// frames (asking for the lens to be covered for a dark or a bias) and shows
// which masters apply to the latest frame and why. It is not modal: the live
// view and the other controls stay in use while it is open.
#pragma once

#include <QDialog>
#include <QTimer>
#include <string>
#include <utility>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace viewer {

class MasterTaker;

class CalibrationDialog : public QDialog {
    Q_OBJECT
  public:
    // The report follows the latest frame this often.
    static constexpr int kRefreshMs = 1000;

    CalibrationDialog(std::string camera, MasterTaker& taker, QWidget* parent = nullptr);
    ~CalibrationDialog() override;

    QCheckBox* enabled() const { return chkOn; }
    QPlainTextEdit* report() const { return txtReport; }
    // What the last master asked for came to.
    QLabel* outcome() const { return txtOutcome; }
    // Asks for a master of `kind` (EZ_MASTER_*): for a dark or a bias the
    // user is asked to cover the lens first. The outcome follows.
    void takeMaster(int kind);
    void refresh();

  signals:
    void changed();  // the switch, library, label or a new master: the status line follows

  private:
    void begin(int kind);
    void masterFinished(bool stored, const QString& text);
    void setTaking(bool on);
    void applyMatch();

    std::string camera;
    MasterTaker& taker;
    int taking = -1;  // the kind being taken, -1 for none
    QCheckBox* chkOn;
    QLineEdit* txtLibrary;
    QLineEdit* txtLabel;
    QSpinBox* spnFrames;
    std::vector<QPushButton*> takeButtons;
    QPushButton* btnCancel;
    QProgressBar* prgFrames;
    QLabel* txtOutcome;
    QPlainTextEdit* txtReport;
    QTimer refreshTimer;
};

// The masters in use by kind ("dark", "flat", "bias") as file names, for a
// raw recording's metadata; none when calibration is off.
std::vector<std::pair<std::string, std::string>> mastersByKind(const char* camera);
// The same for the status line ("" when calibration is off).
QString mastersInUse(const char* camera);

}  // namespace viewer
