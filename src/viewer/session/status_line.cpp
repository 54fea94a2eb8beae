// The window's status line.
#include "viewer/session/status_line.h"

#include <QLabel>
#include <QStatusBar>

#include "ezcam.h"
#include "viewer/calibration/calibration_dialog.h"
#include "viewer/captions.h"
#include "viewer/session/selected_camera.h"
#include "viewer/widgets/control_rows.h"

namespace viewer {

StatusLine::StatusLine(const SelectedCamera& selected)
    : camera(selected), statusBar(new QStatusBar), txtStatus(new QLabel(statusBar)) {
    nameControls({{txtStatus, "txtStatus"}});
}

void StatusLine::note(const QString& message, int timeoutMs) {
    viewerLog(message);
    statusBar->showMessage(message, timeoutMs);
}

void StatusLine::refresh() {
    if (camera.none()) {
        txtStatus->setText(L("No camera"));
        return;
    }
    const char* cam = camera.c_str();
    const int r = GetResolution(cam);
    QString region;
    bool regionOn = false;
    if (GetRoiState(&regionOn, cam) == EZ_OK && regionOn) {
        int x = 0, y = 0, w = 0, h = 0;
        GetRoi(&x, &y, &w, &h, cam);
        region = L(" · region %1 × %2 at %3, %4").arg(w).arg(h).arg(x).arg(y);
    }
    QString facts = QStringLiteral("%1 · %2 × %3%4 · %5-bit · %6 ms")
                        .arg(QString::fromStdString(camera.name()))
                        .arg(GetResWidth(r, cam))
                        .arg(GetResHeight(r, cam))
                        .arg(region)
                        .arg(GetRawDepth(cam))
                        .arg(QString::asprintf("%.3f", GetExposure(cam)));
    if (const QString masters = mastersInUse(cam); !masters.isEmpty())
        facts += QStringLiteral(" · ") + masters;
    txtStatus->setText(facts);
}

}  // namespace viewer
