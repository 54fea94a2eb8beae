// The viewer's main window: the live picture with its tool bar and
// histogram, beside the panel of the camera list with the Live button, the
// settings tabs and the capture controls; the status line below. It lays out
// the controls the pieces made and adds the keys of the panel's buttons; it
// takes no part in what they do.
#pragma once

#include <QMainWindow>

class QGroupBox;

namespace viewer {

class CameraSession;
class CaptureFolder;
class LiveController;
class LiveView;
class MovieCapture;
class PictureTools;
class RawRecordingControls;
class SettingsTabs;
class StatusLine;
class StillCapture;

// The pieces whose controls the window lays out.
struct WindowParts {
    PictureTools& picture;
    CameraSession& session;
    LiveController& live;
    SettingsTabs& settings;
    CaptureFolder& folder;
    StillCapture& stills;
    MovieCapture& movies;
    RawRecordingControls& raw;
    StatusLine& status;
};

class ViewerWindow : public QMainWindow {
    Q_OBJECT
  public:
    explicit ViewerWindow(const WindowParts& parts, QWidget* parent = nullptr);

    // Size and position of the last session, if one was saved.
    void restoreWindowGeometry();
    void saveWindowGeometry();

  protected:
    void changeEvent(QEvent* event) override;

  private:
    QGroupBox* cameraBox(const WindowParts& parts, QWidget* parent);
    QGroupBox* captureBox(const WindowParts& parts, QWidget* parent);
    void addKeys(const WindowParts& parts);

    LiveView* view;
};

}  // namespace viewer
