// The Image tab: gamma, contrast, the flips, the flat field (taken from the
// newest live frame) and, handed in by its owner, the calibration's button.
// Window thread only.
#pragma once

#include <QObject>

#include "viewer/settings/colour_settings.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QSlider;
class QWidget;

namespace viewer {

class SelectedCamera;
class StatusLine;

class ImageSettings : public QObject {
    Q_OBJECT
  public:
    // `mastersButton` opens the calibration; the tab only places it.
    ImageSettings(const SelectedCamera& camera, StatusLine& status, NewestFrame newestFrame,
                  QWidget* mastersButton, QObject* parent = nullptr);

    QWidget* page() const { return tab; }

    void load();
    // After the camera's defaults: gamma, contrast and flips as they are now.
    void showDefaults();

  private:
    const char* cam() const;
    void showFlip();
    void setFlipBit(int bit, bool on);
    void takeFlatField();

    const SelectedCamera& camera;
    StatusLine& status;
    NewestFrame newestFrame;
    int flipType = 0;  // 1 horizontal, 2 vertical

    QWidget* tab;
    QSlider* sldGamma;
    QLabel* txtGamma;
    QSlider* sldContrast;
    QLabel* txtContrast;
    QCheckBox* chkHF;
    QCheckBox* chkVF;
    QCheckBox* chkFF;
    QPushButton* btnFF;
};

}  // namespace viewer
