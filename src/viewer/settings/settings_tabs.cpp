// The settings tabs.
#include "viewer/settings/settings_tabs.h"

#include <QTabWidget>

#include "viewer/captions.h"
#include "viewer/widgets/control_rows.h"

namespace viewer {

SettingsTabs::SettingsTabs(const SelectedCamera& camera, StatusLine& status,
                           const NewestFrame& newestFrame, QWidget* mastersButton,
                           QWidget* colourCalibrationButton)
    : sensorTab(camera, status),
      colourTab(camera, newestFrame, colourCalibrationButton),
      imageTab(camera, status, newestFrame, mastersButton),
      tabView(new QTabWidget) {
    tabView->addTab(sensorTab.page(), L("Sensor"));
    tabView->addTab(colourTab.page(), L("Colour"));
    tabView->addTab(imageTab.page(), L("Image"));
    nameControls({{tabView, "tabView"}});
    QObject::connect(&sensorTab, &SensorSettings::defaultsRestored, &imageTab,
                     &ImageSettings::showDefaults);
    QObject::connect(&sensorTab, &SensorSettings::defaultsRestored, &colourTab,
                     &ColourSettings::showDefaults);
}

void SettingsTabs::load(bool firstLoad) {
    sensorTab.load(firstLoad);
    imageTab.load();
    QWidget* colour = colourTab.page();
    if (colourTab.load()) {
        if (tabView->indexOf(colour) < 0) tabView->insertTab(1, colour, L("Colour"));
    } else if (const int index = tabView->indexOf(colour); index >= 0) {
        tabView->removeTab(index);
    }
}

void SettingsTabs::setEnabled(bool on) {
    tabView->setEnabled(on);
}

void SettingsTabs::showFirst() {
    tabView->setCurrentIndex(0);
}

}  // namespace viewer
