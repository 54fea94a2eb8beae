// The Colour tab, for colour cameras: monochrome, colour enhancement and
// its colour profile (beside the button that measures one), the
// red, green and blue gains, saturation and white balance on the newest live
// frame. Window thread only.
#pragma once

#include <QObject>
#include <functional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QWidget;

namespace viewer {

class SelectedCamera;

// A copy of the newest complete live frame; empty before one arrived.
using NewestFrame = std::function<std::vector<unsigned char>()>;

class ColourSettings : public QObject {
    Q_OBJECT
  public:
    // `calibrateButton` is placed beside the profiles.
    ColourSettings(const SelectedCamera& camera, NewestFrame newestFrame, QWidget* calibrateButton,
                   QObject* parent = nullptr);

    QWidget* page() const { return tab; }

    // Loads the controls from the camera; false for a camera without colour
    // controls, whose tab is not shown.
    bool load();
    // After the camera's defaults: monochrome and saturation as they are now.
    void showDefaults();
    // A profile just stored: listed, chosen and in use.
    void useProfile(const QString& name);

  private:
    const char* cam() const;
    void loadChannelGains();
    void channelMoved(QSlider* slider, QLabel* text, int& gain);
    void saturationMoved();
    void whiteBalance();
    void loadProfiles();
    void profileChosen(int index);

    const SelectedCamera& camera;
    NewestFrame newestFrame;
    int red = 64, green = 64, blue = 64;  // channel gains last read or sent

    QWidget* tab;
    QCheckBox* chkMono;
    QCheckBox* chkColor;
    QComboBox* cmbProfile;
    QSlider* sldRed;
    QLabel* txtRed;
    QSlider* sldGreen;
    QLabel* txtGreen;
    QSlider* sldBlue;
    QLabel* txtBlue;
    QSlider* sldSaturation;
    QLabel* txtSaturation;
    QPushButton* btnWB;
    QLabel* txtWB;
};

}  // namespace viewer
