// The Colour tab.
#include "viewer/settings/colour_settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <algorithm>
#include <utility>

#include "ezcam.h"
#include "viewer/captions.h"
#include "viewer/session/selected_camera.h"
#include "viewer/widgets/control_rows.h"

namespace viewer {

namespace {

QString channelGainText(int gain) {
    return QString::asprintf("%.2f", gain / 64.0f);
}

}  // namespace

ColourSettings::ColourSettings(const SelectedCamera& selected, NewestFrame newest, QWidget* calibrateButton,
                               QObject* parent)
    : QObject(parent), camera(selected), newestFrame(std::move(newest)), tab(new QWidget) {
    auto* form = new QFormLayout(tab);
    chkMono = new QCheckBox(L("Monochrome"), tab);
    chkColor = new QCheckBox(L("Colour enhancement"), tab);
    form->addRow(QString(), chkMono);
    form->addRow(QString(), chkColor);
    cmbProfile = new QComboBox(tab);
    auto* profiles = new QHBoxLayout;
    profiles->addWidget(cmbProfile, 1);
    profiles->addWidget(calibrateButton);
    form->addRow(L("Colour profile"), profiles);
    form->addRow(L("Red"), sliderRow(tab, sldRed, txtRed));
    form->addRow(L("Green"), sliderRow(tab, sldGreen, txtGreen));
    form->addRow(L("Blue"), sliderRow(tab, sldBlue, txtBlue));
    form->addRow(L("Saturation"), sliderRow(tab, sldSaturation, txtSaturation));
    auto* balance = new QHBoxLayout;
    btnWB = new QPushButton(L("White balance"), tab);
    txtWB = new QLabel(tab);
    balance->addWidget(btnWB);
    balance->addWidget(txtWB, 1);
    form->addRow(balance);
    nameControls({{tab, "tabItemColr"},
                  {chkMono, "chkMono"},
                  {chkColor, "chkColor"},
                  {cmbProfile, "cmbColourProfile"},
                  {sldRed, "sldRed"},
                  {txtRed, "txtRed"},
                  {sldGreen, "sldGreen"},
                  {txtGreen, "txtGreen"},
                  {sldBlue, "sldBlue"},
                  {txtBlue, "txtBlue"},
                  {sldSaturation, "sldSaturation"},
                  {txtSaturation, "txtSaturation"},
                  {btnWB, "btnWB"},
                  {txtWB, "txtWB"}});

    connect(chkMono, &QCheckBox::clicked, this, [this] {
        if (!camera.none()) SetMonochrome(chkMono->isChecked(), cam());
    });
    connect(chkColor, &QCheckBox::clicked, this, [this] {
        if (!camera.none()) SetColorEnhancement(chkColor->isChecked(), cam());
    });
    connect(cmbProfile, &QComboBox::activated, this, &ColourSettings::profileChosen);
    connect(sldRed, &QSlider::valueChanged, this, [this] { channelMoved(sldRed, txtRed, red); });
    connect(sldGreen, &QSlider::valueChanged, this,
            [this] { channelMoved(sldGreen, txtGreen, green); });
    connect(sldBlue, &QSlider::valueChanged, this,
            [this] { channelMoved(sldBlue, txtBlue, blue); });
    connect(sldSaturation, &QSlider::valueChanged, this, &ColourSettings::saturationMoved);
    connect(btnWB, &QPushButton::clicked, this, &ColourSettings::whiteBalance);
}

const char* ColourSettings::cam() const {
    return camera.c_str();
}

bool ColourSettings::load() {
    bool mono = false;
    if (GetMonochrome(&mono, cam()) == EZ_ENOTSUP) return false;
    setCheckedQuietly(chkMono, mono);
    bool enhanced = false;
    GetColorEnhancement(&enhanced, cam());
    setCheckedQuietly(chkColor, enhanced);
    loadProfiles();
    int min = 0, max = 0, step = 0;
    GetChannelGainRange(&min, &max, &step, cam());
    for (QSlider* slider : {sldRed, sldGreen, sldBlue}) {
        const QSignalBlocker quiet(slider);
        slider->setRange(min, max);
    }
    loadChannelGains();
    GetSaturationRange(&min, &max, &step, cam());
    const int saturation = GetSaturation(cam());
    setSliderQuietly(sldSaturation, min, max, saturation);
    txtSaturation->setText(QString::number(saturation));
    return true;
}

// The fixed correction first, then the model's measured profiles; the one
// in use selected.
void ColourSettings::loadProfiles() {
    const QSignalBlocker quiet(cmbProfile);
    cmbProfile->clear();
    cmbProfile->addItem(L("Fixed correction"), QString());
    char names[8192] = {}, inUse[128] = {};
    GetColorProfiles(names, sizeof names, cam());
    GetColorProfile(inUse, sizeof inUse, cam());
    for (const QString& n : QString::fromUtf8(names).split('\n', Qt::SkipEmptyParts)) cmbProfile->addItem(n, n);
    cmbProfile->setCurrentIndex(std::max(0, cmbProfile->findData(QString::fromUtf8(inUse))));
}

// A profile acts through colour enhancement, which it switches on.
void ColourSettings::profileChosen(int index) {
    if (camera.none()) return;
    const QByteArray name = cmbProfile->itemData(index).toString().toUtf8();
    if (SetColorProfile(name.constData(), cam()) != EZ_OK) {
        loadProfiles();  // gone since the list was read
        return;
    }
    if (!name.isEmpty()) {
        SetColorEnhancement(true, cam());
        setCheckedQuietly(chkColor, true);
    }
}

void ColourSettings::useProfile(const QString& name) {
    loadProfiles();
    const int index = cmbProfile->findData(name);
    if (index < 0) return;
    {
        const QSignalBlocker quiet(cmbProfile);
        cmbProfile->setCurrentIndex(index);
    }
    profileChosen(index);
}

void ColourSettings::showDefaults() {
    bool mono = false;
    if (GetMonochrome(&mono, cam()) == EZ_ENOTSUP) return;
    const int saturation = GetSaturation(cam());
    setCheckedQuietly(chkMono, mono);
    setSliderQuietly(sldSaturation, saturation);
    txtSaturation->setText(QString::number(saturation));
}

void ColourSettings::loadChannelGains() {
    GetChannelGain(&red, &green, &blue, cam());
    const struct {
        QSlider* slider;
        QLabel* text;
        int value;
    } rows[] = {{sldRed, txtRed, red}, {sldGreen, txtGreen, green}, {sldBlue, txtBlue, blue}};
    for (const auto& row : rows) {
        setSliderQuietly(row.slider, row.value);
        row.text->setText(channelGainText(row.value));
    }
}

void ColourSettings::channelMoved(QSlider* slider, QLabel* text, int& gain) {
    if (camera.none() || slider->value() == gain) return;
    gain = slider->value();
    SetChannelGain(red, green, blue, cam());
    text->setText(channelGainText(gain));
}

void ColourSettings::saturationMoved() {
    if (camera.none()) return;
    const int v = sldSaturation->value();
    if (v == GetSaturation(cam())) return;
    SetSaturation(v, cam());
    txtSaturation->setText(QString::number(v));
}

void ColourSettings::whiteBalance() {
    if (camera.none()) return;
    btnWB->setEnabled(false);
    // A copy of the newest frame: the live threads keep moving their buffers.
    std::vector<unsigned char> frame = newestFrame();
    const int r = frame.empty() ? EZ_EIO : CalcWhiteBalance(frame.data(), nullptr, cam());
    if (r == EZ_OK) {
        txtWB->setText(L("WB Succeed"));
        loadChannelGains();
    } else {
        txtWB->setText(L("WB Fail"));
    }
    btnWB->setEnabled(true);
}

}  // namespace viewer
