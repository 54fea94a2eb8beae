// The raw recording's controls: container, length in frames or seconds, the
// Record Raw button and the running count. A recording takes its frames
// from live view (started for it when off) and writes them, losslessly with
// each frame's time and settings, into the capture folder. Window thread
// only; the grab thread reaches the recording itself.
#pragma once

#include <QObject>
#include <QString>

#include "viewer/recording/raw_recording.h"

class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace viewer {

class CaptureFolder;
class LiveController;
class PictureTools;
class SelectedCamera;
class StatusLine;

class RawRecordingControls : public QObject {
    Q_OBJECT
  public:
    RawRecordingControls(const SelectedCamera& camera, StatusLine& status,
                         const CaptureFolder& folder, LiveController& live,
                         const PictureTools& picture, QObject* parent = nullptr);

    QComboBox* formatList() const { return pouRawFormat; }
    QSpinBox* lengthField() const { return spnRawLength; }
    QComboBox* unitList() const { return pouRawUnit; }
    QPushButton* button() const { return btnRaw; }
    QLabel* countText() const { return txtRaw; }

    RawRecording& recording() { return raw; }

    // "Record Raw" / "Stop Raw": starts a recording, or ends it.
    void toggle();
    // The button and choices for the recording's state and the camera's.
    void showState();

  private:
    void ended(const QString& summary);

    const SelectedCamera& camera;
    StatusLine& status;
    const CaptureFolder& folder;
    LiveController& live;
    const PictureTools& picture;  // the objective chosen, for the files' pixel size
    RawRecording raw;

    QComboBox* pouRawFormat;  // the recorder's format names
    QSpinBox* spnRawLength;
    QComboBox* pouRawUnit;  // index 0: frames, 1: seconds
    QPushButton* btnRaw;
    QLabel* txtRaw;
};

}  // namespace viewer
