// Calibration from the viewer.
#include "viewer/calibration/calibration_controls.h"

#include <QPushButton>
#include <utility>

#include "viewer/captions.h"
#include "viewer/session/selected_camera.h"
#include "viewer/session/status_line.h"
#include "viewer/widgets/control_rows.h"

namespace viewer {

CalibrationControls::CalibrationControls(const SelectedCamera& selected, StatusLine& statusLine,
                                         MasterTaker::Live live, QObject* parent)
    : QObject(parent),
      camera(selected),
      status(statusLine),
      master(std::move(live)),
      btnCalib(new QPushButton(L("Calibration…"))) {
    nameControls({{btnCalib, "btnCalib"}});
    connect(btnCalib, &QPushButton::clicked, this, &CalibrationControls::open);
    connect(&master, &MasterTaker::finished, this, [this](bool stored, const QString& text) {
        status.note(stored ? L("Master stored: %1").arg(text) : text, 0);
        status.refresh();
    });
}

CalibrationControls::~CalibrationControls() {
    delete calibration.data();
}

void CalibrationControls::open() {
    if (camera.none()) return;
    if (calibration) {
        calibration->raise();
        calibration->activateWindow();
        return;
    }
    calibration = new CalibrationDialog(camera.name(), master, btnCalib->window());
    calibration->setAttribute(Qt::WA_DeleteOnClose);
    connect(calibration, &CalibrationDialog::changed, this, [this] { status.refresh(); });
    calibration->show();
}

void CalibrationControls::close() {
    if (calibration) calibration->close();
}

}  // namespace viewer
