// The settings tabs: Sensor, Colour (shown for colour cameras only, at index
// 1) and Image, loaded together from the selected camera. Defaults, pressed
// on the Sensor tab, reach every tab. Window thread only.
#pragma once

#include "viewer/settings/colour_settings.h"
#include "viewer/settings/image_settings.h"
#include "viewer/settings/sensor_settings.h"

class QTabWidget;

namespace viewer {

class SettingsTabs {
  public:
    SettingsTabs(const SelectedCamera& camera, StatusLine& status, const NewestFrame& newestFrame,
                 QWidget* mastersButton, QWidget* colourCalibrationButton);
    SettingsTabs(const SettingsTabs&) = delete;
    SettingsTabs& operator=(const SettingsTabs&) = delete;

    QTabWidget* widget() const { return tabView; }
    SensorSettings& sensor() { return sensorTab; }
    ColourSettings& colour() { return colourTab; }

    // Loads every tab from the camera, and shows the Colour tab only where
    // the camera has colour.
    void load(bool firstLoad);
    // Open only while a camera is loaded.
    void setEnabled(bool on);
    void showFirst();

  private:
    SensorSettings sensorTab;
    ColourSettings colourTab;
    ImageSettings imageTab;
    QTabWidget* tabView;
};

}  // namespace viewer
