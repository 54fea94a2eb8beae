// The Sensor tab.
#include "viewer/settings/sensor_settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <initializer_list>

#include "ezcam.h"
#include "viewer/captions.h"
#include "viewer/session/selected_camera.h"
#include "viewer/session/status_line.h"
#include "viewer/widgets/control_rows.h"
#include "viewer/widgets/radio_row.h"

namespace viewer {

namespace {

QString gainText(int gain) {
    return QString::asprintf("%.3f", gain * 0.0351f + 6);
}

// The text is a scale of the camera's own; files record the setting itself
// (GAIN), which the tooltip names beside it.
void showGain(QLabel* text, int gain) {
    text->setText(gainText(gain));
    text->setToolTip(L("Analog gain setting %1 in camera units, recorded as GAIN %1 in files; "
                       "shown as %1 × 0.0351 + 6")
                         .arg(gain));
}

}  // namespace

SensorSettings::SensorSettings(const SelectedCamera& selected, StatusLine& statusLine,
                               QObject* parent)
    : QObject(parent), camera(selected), status(statusLine), tab(new QWidget) {
    auto* form = new QFormLayout(tab);
    pouRes = new QComboBox(tab);
    pouClk = new QComboBox(tab);
    radBit = new RadioRow({L("8 bit"), L("16 bit")}, tab);
    form->addRow(L("Resolution"), pouRes);
    form->addRow(L("Pixel clock"), pouClk);
    form->addRow(L("Bit depth"), radBit);
    form->addRow(L("Gain"), sliderRow(tab, sldGain, txtGain));

    // The exposure slider and the field to type it in.
    auto* exposure = new QWidget(tab);
    auto* exposureLayout = new QHBoxLayout(exposure);
    exposureLayout->setContentsMargins(0, 0, 0, 0);
    sldTime = slider(exposure);
    sldTime->setToolTip(L("Exposure, on a logarithmic scale over the camera's range"));
    txtTime = new QLineEdit(exposure);
    txtTime->setMaximumWidth(96);
    txtTime->setAlignment(Qt::AlignRight);
    txtTime->setToolTip(L("Type milliseconds (250) or seconds (1.5 s) and press Enter"));
    exposureLayout->addWidget(sldTime, 1);
    exposureLayout->addWidget(txtTime);
    form->addRow(L("Exposure (ms)"), exposure);

    chkAE = new QCheckBox(L("Automatic exposure"), tab);
    form->addRow(QString(), chkAE);
    tilBlvl = new QLabel(L("Black level"), tab);
    form->addRow(tilBlvl, sliderRow(tab, sldBlvl, txtBlvl));
    auto* buttons = new QHBoxLayout;
    btnRestart = new QPushButton(L("Restart exposure"), tab);
    btnReset = new QPushButton(L("Defaults"), tab);
    buttons->addWidget(btnRestart);
    buttons->addWidget(btnReset);
    form->addRow(buttons);
    nameControls({{pouRes, "pouRes"},
                  {pouClk, "pouClk"},
                  {radBit, "radBit"},
                  {sldGain, "sldGain"},
                  {txtGain, "txtGain"},
                  {sldTime, "sldTime"},
                  {txtTime, "txtTime"},
                  {chkAE, "chkAE"},
                  {tilBlvl, "tilBlvl"},
                  {sldBlvl, "sldBlvl"},
                  {txtBlvl, "txtBlvl"},
                  {btnRestart, "btnRestart"},
                  {btnReset, "btnReset"}});

    connect(pouRes, &QComboBox::activated, this, &SensorSettings::resolutionChosen);
    connect(pouClk, &QComboBox::activated, this, &SensorSettings::clockChosen);
    connect(radBit, &RadioRow::cellClicked, this, &SensorSettings::depthChosen);
    connect(sldGain, &QSlider::valueChanged, this, &SensorSettings::gainMoved);
    connect(sldTime, &QSlider::valueChanged, this, &SensorSettings::exposureMoved);
    connect(txtTime, &QLineEdit::editingFinished, this, &SensorSettings::exposureTyped);
    connect(chkAE, &QCheckBox::clicked, this, &SensorSettings::automaticExposureClicked);
    connect(sldBlvl, &QSlider::valueChanged, this, &SensorSettings::blackLevelMoved);
    connect(btnRestart, &QPushButton::clicked, this, [this] {
        if (!camera.none()) ResetDevice(cam());
    });
    connect(btnReset, &QPushButton::clicked, this, &SensorSettings::restoreDefaults);
}

const char* SensorSettings::cam() const {
    return camera.c_str();
}

// ---- Loading ---------------------------------------------------------------------

void SensorSettings::load(bool firstLoad) {
    pouRes->setEnabled(true);
    pouRes->clear();
    for (int i = 0, n = GetResolutionCount(cam()); i < n; ++i) {
        const char* label = GetResItemName(i, cam());
        pouRes->addItem(QString::fromUtf8(label ? label : ""));
    }
    pouRes->setCurrentIndex(GetResolution(cam()));

    pouClk->setEnabled(true);
    pouClk->clear();
    for (int i = 0, n = GetPixelclockCount(cam()); i < n; ++i) {
        const char* label = GetPixclkItemName(i, cam());
        pouClk->addItem(QString::fromUtf8(label ? label : ""));
    }
    if (firstLoad) SetPixelclock(1, cam());
    pouClk->setCurrentIndex(GetPixelclock(cam()));
    loadBitDepth();

    int min = 0, max = 0, step = 0;
    sldGain->setEnabled(true);
    txtGain->setEnabled(true);
    GetAnaloggainRange(&min, &max, &step, cam());
    const int gain = GetAnaloggain(cam());
    setSliderQuietly(sldGain, min, max, gain);
    showGain(txtGain, gain);

    sldTime->setEnabled(true);
    txtTime->setEnabled(true);
    loadExposure();
    btnRestart->setEnabled(ResetSupport(cam()) != EZ_ENOTSUP);

    if (firstLoad) SetAutoExposure(true, cam());
    bool on = false;
    GetAutoExposure(&on, cam());
    showAutomaticExposure(on);

    const bool blackLevel = GetBlacklevelRange(&min, &max, &step, cam()) != EZ_ENOTSUP;
    for (QWidget* control : std::initializer_list<QWidget*>{sldBlvl, txtBlvl, tilBlvl})
        control->setVisible(blackLevel);
    if (blackLevel) {
        const int level = GetBlacklevel(cam());
        setSliderQuietly(sldBlvl, min, max, level);
        txtBlvl->setText(QString::number(level));
    }
}

void SensorSettings::loadBitDepth() {
    if (GetRawDepthState(GetPixelclock(cam()), cam()) != EZ_OK) {
        radBit->setEnabled(false);
        radBit->selectColumn(0);
        SetRawDepth(8, cam());
    } else {
        radBit->setEnabled(true);
        radBit->selectColumn(GetRawDepth(cam()) == 8 ? 0 : 1);
    }
}

void SensorSettings::loadExposure() {
    GetExposureRange(&fmin, &fmax, &fstp, cam());
    const float exposure = GetExposure(cam());
    // A camera reporting no usable step gets a slider that cannot move.
    const ExposureRange range = exposureRange();
    setSliderQuietly(sldTime, 0, range.usable() ? kExposureSliderSteps : 0,
                     exposureSliderPosition(range, exposure));
    // What the user is typing stays until Enter: a reload (after a resolution
    // or clock change, or under automatic exposure) must not take it away.
    if (txtTime->hasFocus() && txtTime->isModified()) return;
    txtTime->setText(QString::asprintf("%.3f", exposure));
    txtTime->setModified(false);
}

void SensorSettings::followAutomaticExposure() {
    if (chkAE->isChecked() && !camera.none()) loadExposure();
}

void SensorSettings::exposureReloadLater() {
    // The exposure range follows the new line timing once the camera settled.
    QTimer::singleShot(settleDelayMs, this, [this, name = camera.name()] {
        if (name == camera.name() && !camera.none()) {
            loadExposure();
            status.refresh();
        }
    });
}

void SensorSettings::showAutomaticExposure(bool on) {
    sldTime->setEnabled(!on);
    txtTime->setEnabled(!on);
    setCheckedQuietly(chkAE, on);
}

// ---- Resolution, clock, depth -------------------------------------------------------

void SensorSettings::resolutionChosen() {
    if (camera.none()) return;
    const int index = pouRes->currentIndex();
    const bool change = index != GetResolution(cam());
    if (change) SetResolution(index, cam());
    // A refused resolution leaves the one in force: show that one.
    const int resolution = GetResolution(cam());
    pouRes->setCurrentIndex(resolution);
    emit resolutionShown(resolution);
    if (!change) return;
    emit resolutionChanged();
    // What depth a clock allows depends on the resolution as well.
    loadBitDepth();
    status.refresh();
    exposureReloadLater();
}

void SensorSettings::clockChosen() {
    if (camera.none()) return;
    if (SetPixelclock(pouClk->currentIndex(), cam()) == EZ_EDEPTH16)
        viewerLog(QStringLiteral("now nonsupport"));
    // A refused clock leaves the one in force: show that one.
    pouClk->setCurrentIndex(GetPixelclock(cam()));
    loadBitDepth();
    viewerLog(QStringLiteral("rawdepth: %1").arg(GetRawDepth(cam())));
    status.refresh();
    exposureReloadLater();
}

void SensorSettings::depthChosen() {
    if (camera.none()) return;
    SetRawDepth(radBit->selectedColumn() == 1 ? 16 : 8, cam());
    status.refresh();
}

// ---- Exposure and gain ------------------------------------------------------------

void SensorSettings::gainMoved() {
    if (camera.none()) return;
    const int v = sldGain->value();
    if (v == GetAnaloggain(cam())) return;
    SetAnaloggain(v, cam());
    showGain(txtGain, v);
}

void SensorSettings::exposureMoved() {
    if (camera.none()) return;
    // Positions lie on a logarithmic scale; one that shows the camera's
    // exposure already changes nothing.
    const float now = GetExposure(cam());
    if (sldTime->value() == exposureSliderPosition(exposureRange(), now)) return;
    const float t = exposureAtSlider(exposureRange(), sldTime->value());
    if (t == now) return;
    SetExposure(t, cam());
    txtTime->setText(QString::asprintf("%.3f", t));
    status.refresh();
}

void SensorSettings::exposureTyped() {
    if (camera.none() || !txtTime->isModified()) return;
    txtTime->setModified(false);
    const ExposureRange range = exposureRange();
    const std::optional<double> typed = parseExposure(txtTime->text());
    if (!typed) {
        status.note(L("\"%1\" is no exposure: type milliseconds (250) or seconds (1.5 s)")
                        .arg(txtTime->text().trimmed()));
        loadExposure();
        return;
    }
    if (!range.usable() || *typed < range.min || *typed > range.max) {
        status.note(L("Exposure must lie between %1 and %2")
                        .arg(durationText(range.min), durationText(range.max)));
        loadExposure();
        return;
    }
    SetExposure(snapExposure(range, *typed), cam());
    loadExposure();  // the slider and the text show what the camera took
    status.refresh();
}

void SensorSettings::automaticExposureClicked() {
    if (camera.none()) return;
    const bool on = chkAE->isChecked();
    SetAutoExposure(on, cam());
    sldTime->setEnabled(!on);
    txtTime->setEnabled(!on);
    if (!on) loadExposure();
}

void SensorSettings::blackLevelMoved() {
    if (camera.none()) return;
    const int v = sldBlvl->value();
    if (v == GetBlacklevel(cam())) return;
    SetBlacklevel(v, cam());
    txtBlvl->setText(QString::number(v));
}

// ---- Defaults ------------------------------------------------------------------------

void SensorSettings::restoreDefaults() {
    if (camera.none()) return;
    SetDefaultConfiguration(cam());
    SetPixelclock(1, cam());
    SetAutoExposure(true, cam());
    pouClk->setCurrentIndex(GetPixelclock(cam()));
    loadBitDepth();

    const int gain = GetAnaloggain(cam());
    setSliderQuietly(sldGain, gain);
    showGain(txtGain, gain);

    bool on = false;
    GetAutoExposure(&on, cam());
    showAutomaticExposure(on);
    int min, max, step;
    if (GetBlacklevelRange(&min, &max, &step, cam()) != EZ_ENOTSUP) {
        const int level = GetBlacklevel(cam());
        setSliderQuietly(sldBlvl, level);
        txtBlvl->setText(QString::number(level));
    }
    emit defaultsRestored();
    status.refresh();
}

}  // namespace viewer
