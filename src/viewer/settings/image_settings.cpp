// The Image tab.
#include "viewer/settings/image_settings.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <utility>

#include "ezcam.h"
#include "viewer/captions.h"
#include "viewer/session/selected_camera.h"
#include "viewer/session/status_line.h"
#include "viewer/widgets/control_rows.h"

namespace viewer {

namespace {

QString gammaText(int gamma) {
    return QString::asprintf("%.1f", gamma / 100.0f);
}

}  // namespace

ImageSettings::ImageSettings(const SelectedCamera& selected, StatusLine& statusLine,
                             NewestFrame newest, QWidget* mastersButton, QObject* parent)
    : QObject(parent),
      camera(selected),
      status(statusLine),
      newestFrame(std::move(newest)),
      tab(new QWidget) {
    auto* form = new QFormLayout(tab);
    form->addRow(L("Gamma"), sliderRow(tab, sldGamma, txtGamma));
    form->addRow(L("Contrast"), sliderRow(tab, sldContrast, txtContrast));
    chkHF = new QCheckBox(L("Flip horizontally"), tab);
    chkVF = new QCheckBox(L("Flip vertically"), tab);
    form->addRow(QString(), chkHF);
    form->addRow(QString(), chkVF);
    auto* flat = new QHBoxLayout;
    chkFF = new QCheckBox(L("Flat field"), tab);
    btnFF = new QPushButton(L("Take flat field"), tab);
    flat->addWidget(chkFF);
    flat->addWidget(btnFF);
    form->addRow(flat);
    form->addRow(L("Masters"), mastersButton);
    nameControls({{sldGamma, "sldGamma"},
                  {txtGamma, "txtGamma"},
                  {sldContrast, "sldContrast"},
                  {txtContrast, "txtContrast"},
                  {chkHF, "chkHF"},
                  {chkVF, "chkVF"},
                  {chkFF, "chkFF"},
                  {btnFF, "btnFF"}});

    connect(sldGamma, &QSlider::valueChanged, this, [this] {
        if (camera.none()) return;
        const int v = sldGamma->value();
        if (v == GetGamma(cam())) return;
        SetGamma(v, cam());
        txtGamma->setText(QString::asprintf("%.2f", v / 100.0f));
    });
    connect(sldContrast, &QSlider::valueChanged, this, [this] {
        if (camera.none()) return;
        const int v = sldContrast->value();
        if (v == GetContrast(cam())) return;
        SetContrast(v, cam());
        txtContrast->setText(QString::number(v));
    });
    connect(chkHF, &QCheckBox::clicked, this, [this] { setFlipBit(1, chkHF->isChecked()); });
    connect(chkVF, &QCheckBox::clicked, this, [this] { setFlipBit(2, chkVF->isChecked()); });
    connect(chkFF, &QCheckBox::clicked, this, [this] {
        if (!camera.none()) SetFlatfieldState(chkFF->isChecked(), cam());
    });
    connect(btnFF, &QPushButton::clicked, this, &ImageSettings::takeFlatField);
}

const char* ImageSettings::cam() const {
    return camera.c_str();
}

void ImageSettings::load() {
    int min = 0, max = 0, step = 0;
    sldGamma->setEnabled(true);
    txtGamma->setEnabled(true);
    GetGammaRange(&min, &max, &step, cam());
    const int gamma = GetGamma(cam());
    setSliderQuietly(sldGamma, min, max, gamma);
    txtGamma->setText(gammaText(gamma));

    sldContrast->setEnabled(true);
    txtContrast->setEnabled(true);
    GetContrastRange(&min, &max, &step, cam());
    const int contrast = GetContrast(cam());
    setSliderQuietly(sldContrast, min, max, contrast);
    txtContrast->setText(QString::number(contrast));

    showFlip();
    bool flat = false;
    GetFlatfieldState(&flat, cam());
    setCheckedQuietly(chkFF, flat);
}

void ImageSettings::showDefaults() {
    const int gamma = GetGamma(cam());
    const int contrast = GetContrast(cam());
    setSliderQuietly(sldGamma, gamma);
    setSliderQuietly(sldContrast, contrast);
    txtGamma->setText(gammaText(gamma));
    txtContrast->setText(QString::number(contrast));
    showFlip();
}

void ImageSettings::showFlip() {
    flipType = GetFlip(cam());
    setCheckedQuietly(chkHF, flipType & 1);
    setCheckedQuietly(chkVF, flipType & 2);
}

void ImageSettings::setFlipBit(int bit, bool on) {
    if (camera.none()) return;
    flipType = on ? flipType | bit : flipType & ~bit;
    SetFlip(flipType, cam());
}

void ImageSettings::takeFlatField() {
    if (camera.none()) return;
    std::vector<unsigned char> frame = newestFrame();
    if (frame.empty()) {
        status.note(L("No frame for a flat field yet: start the live view"));
        return;
    }
    const int r = CalcFlatfield(frame.data(), false, cam());
    status.note(r == EZ_OK ? L("Flat field taken") : L("Flat field failed"));
}

}  // namespace viewer
