// Stills: the formats to write (RAW, TIFF, PNG, JPEG, BMP), the still size
// (the live resolution's, shown, not chosen) and the Capture button. The
// camera writes a still from its next live frame; with the scale bar asked
// for on stills, this writes it from the next frame shown, the bar burned
// into every format but RAW. Window thread only.
#pragma once

#include <QObject>
#include <QString>
#include <array>

class QCheckBox;
class QComboBox;
class QPushButton;

namespace viewer {

class CaptureFolder;
class LiveController;
class PictureTools;
class SelectedCamera;
class StatusLine;
struct ShownFrame;

class StillCapture : public QObject {
    Q_OBJECT
  public:
    StillCapture(const SelectedCamera& camera, StatusLine& status, const CaptureFolder& folder,
                 const LiveController& live, PictureTools& picture, QObject* parent = nullptr);

    // RAW, TIFF, PNG, JPEG, BMP.
    const std::array<QCheckBox*, 5>& formatBoxes() const { return formats; }
    QComboBox* stillSize() const { return pouSav; }
    QPushButton* button() const { return btnSnap; }

    // Loads the formats and the still sizes from the camera.
    void load();
    // The resolution in force, which stills are taken at.
    void showResolution(int resolution);
    // Open only while a camera is loaded.
    void setCameraOpen(bool on);
    // Another camera was chosen: a still waiting for a frame is dropped.
    void forget() { stillWithBar.clear(); }

    // The Capture button, and the camera's own.
    void take();

  signals:
    // A still was asked for: the base name given to the camera and its answer.
    void stillRequested(const QString& base, int result);

  private:
    const char* cam() const;
    void setFormatBit(int bit, bool on);
    // A still with the scale bar burned in, from a shown frame's raw frame.
    void writeWithBar(const ShownFrame& frame, const QString& base);

    const SelectedCamera& camera;
    StatusLine& status;
    const CaptureFolder& folder;
    const LiveController& live;
    PictureTools& picture;
    int snapType = 31;     // 1 RAW, 2 TIFF, 4 PNG, 8 JPEG, 16 BMP
    int resolution = 0;    // the one in force
    QString stillWithBar;  // base name of a still waiting for the next shown frame

    std::array<QCheckBox*, 5> formats;
    QComboBox* pouSav;
    QPushButton* btnSnap;
};

}  // namespace viewer
