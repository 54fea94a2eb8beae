// The viewer's main window: the live picture with its histogram beside the
// camera list, the settings tabs and the capture controls.
#pragma once

#include <QMainWindow>

class QPushButton;

#include "viewer/outlets.h"

namespace viewer {

class LiveController;
class LiveView;
class PictureTools;
class SettingsTabs;
class StatusLine;

class ViewerWindow : public QMainWindow {
    Q_OBJECT
  public:
    // Builds the controls of `outlets` and lays them out with the parts'.
    ViewerWindow(Outlets& outlets, PictureTools& picture, LiveController& live,
                 SettingsTabs& settings, StatusLine& status, QWidget* parent = nullptr);

    // Size and position of the last session, if one was saved.
    void restoreWindowGeometry();
    void saveWindowGeometry();

  protected:
    void changeEvent(QEvent* event) override;

  private:
    void addKeys(QPushButton* liveButton);
    void nameControls();

    Outlets& ui;
    LiveView* view;
};

}  // namespace viewer
