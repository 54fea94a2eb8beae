// Calibration from the viewer: the button that opens the calibration dialog
// for the selected camera (one at a time, closed when the camera changes)
// and the taker of masters from the live frames, whose outcome shows in the
// status line. Window thread only; the grab thread reaches the taker.
#pragma once

#include <QObject>
#include <QPointer>

#include "viewer/calibration/calibration_dialog.h"
#include "viewer/calibration/master_taker.h"

class QPushButton;

namespace viewer {

class SelectedCamera;
class StatusLine;

class CalibrationControls : public QObject {
    Q_OBJECT
  public:
    // `live` is how a master reaches the live view for its frames.
    CalibrationControls(const SelectedCamera& camera, StatusLine& status, MasterTaker::Live live,
                        QObject* parent = nullptr);
    // A dialog still open goes first: it hears of its master to the end.
    ~CalibrationControls() override;

    QPushButton* button() const { return btnCalib; }
    MasterTaker& masters() { return master; }
    // The dialog open for the selected camera, or null.
    CalibrationDialog* dialog() const { return calibration; }

    // Opens the dialog, or brings it to the front.
    void open();
    // The camera changed or left: its dialog closes.
    void close();
    // Shut-down: a master being taken is dropped, one being stacked awaited.
    void stopAndWait() { master.stopAndWait(); }

  private:
    const SelectedCamera& camera;
    StatusLine& status;
    MasterTaker master;
    QPointer<CalibrationDialog> calibration;  // open for the selected camera, or null
    QPushButton* btnCalib;
};

}  // namespace viewer
