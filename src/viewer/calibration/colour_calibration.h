// Colour calibration from the viewer: the Colour tab's "Calibrate colour…"
// button, then the chart's rectangle dragged on the live picture, a name
// for the profile, and the library's calibration (CalcColorProfile) on a
// thread of its own with its progress, ending in the colour differences
// before and after and the new profile chosen. Escape cancels while the
// rectangle or the name is asked for. The calibration reads the camera's
// frames itself: live view stops for it and starts again after. Window
// thread only; the calibration's thread reaches it through queued calls.
#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <functional>
#include <string>
#include <thread>

#include "ezcam.h"

class QProgressDialog;
class QPushButton;
class QShortcut;

namespace viewer {

class LiveView;
class SelectedCamera;
class StatusLine;

class ColourCalibration : public QObject {
    Q_OBJECT
  public:
    // How the calibration reaches the live view, and what else may hold
    // the camera's frames.
    struct Live {
        std::function<bool()> running;
        std::function<void(bool on)> set;
        // Why the camera's frames are taken now (a raw recording, a master);
        // empty when they are free.
        std::function<QString()> busy;
    };

    ColourCalibration(const SelectedCamera& camera, StatusLine& status, LiveView& view, Live live,
                      QObject* parent = nullptr);
    ~ColourCalibration() override;  // a calibration running is awaited

    QPushButton* button() const { return btnCalibrateColour; }
    // The first name offered for the profile.
    static QString defaultProfileName() { return QStringLiteral("daylight"); }

    // The button: live view for the picture, then the rectangle is asked for.
    void begin();
    // Drops a rectangle or name being asked for; a calibration running
    // finishes (its profile is stored).
    void cancel();
    // Live view has ended: a calibration waiting for the camera's frames starts.
    void liveEnded();
    // Shut-down: waits for a calibration running; nothing starts after.
    void stopAndWait();
    bool busy() const { return step != Step::Idle; }

  signals:
    // A profile was stored and is to be used.
    void calibrated(const QString& profile);

  private:
    enum class Step { Idle, Picking, Naming, WaitingForLive, Running };
    void chartDrawn(const QRect& pixels);
    void named(const QString& profile);
    void run();
    void progressed(int done, int total);
    void finished(int result, const EzColorFit& fit);
    void tell(const QString& title, const QString& text, bool failed);
    void end();

    const SelectedCamera& camera;
    StatusLine& status;
    LiveView& view;
    Live live;
    Step step = Step::Idle;
    bool restartLive = false;  // live view stopped for the calibration
    bool shutDown = false;     // stopAndWait() was called
    std::string calibrated_;   // the camera being calibrated
    __IMG_RECT chart{};        // raw frame pixels
    QString profile;
    std::thread worker;
    QPushButton* btnCalibrateColour;
    QShortcut* escape;
    QPointer<QProgressDialog> progress;
};

// The sentence a failed calibration shows.
QString colourFailure(int result, const char* why);

}  // namespace viewer
