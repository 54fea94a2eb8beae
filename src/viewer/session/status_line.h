// The window's status line: passing messages on the left, each one a log
// line as well, and on the right the selected camera's facts (name, size,
// region, depth, exposure, masters in use). Every part reports through it.
// Window thread only.
#pragma once

#include <QString>

class QLabel;
class QStatusBar;

namespace viewer {

class SelectedCamera;

class StatusLine {
  public:
    // Makes the bar and the facts' label; the window places them.
    explicit StatusLine(const SelectedCamera& camera);
    StatusLine(const StatusLine&) = delete;
    StatusLine& operator=(const StatusLine&) = delete;

    QStatusBar* bar() const { return statusBar; }
    QLabel* facts() const { return txtStatus; }

    // A message for `timeoutMs` (0: until the next one).
    void note(const QString& message, int timeoutMs = 5000);
    // The facts again, as the camera has them now.
    void refresh();

  private:
    const SelectedCamera& camera;
    QStatusBar* statusBar;
    QLabel* txtStatus;
};

}  // namespace viewer
