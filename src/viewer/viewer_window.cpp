// The viewer's main window.
#include "viewer/viewer_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "recording/writers.h"
#include "viewer/captions.h"
#include "viewer/picture/histogram_view.h"
#include "viewer/picture/live_view.h"
#include "viewer/picture/picture_toolbar.h"
#include "viewer/widgets/radio_row.h"

namespace viewer {

namespace {

constexpr int kPanelWidth = 380;

QSlider* slider(QWidget* parent) {
    auto* s = new QSlider(Qt::Horizontal, parent);
    s->setMinimumWidth(140);
    return s;
}

QLabel* readout(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setMinimumWidth(64);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

// A slider with its value text on the right.
QWidget* sliderRow(QWidget* parent, QSlider*& s, QLabel*& text) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    s = slider(row);
    text = readout(row);
    layout->addWidget(s, 1);
    layout->addWidget(text);
    return row;
}

// The exposure slider and the field to type it in.
QWidget* exposureRow(QWidget* parent, Outlets& ui) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    ui.sldTime = slider(row);
    ui.sldTime->setToolTip(L("Exposure, on a logarithmic scale over the camera's range"));
    ui.txtTime = new QLineEdit(row);
    ui.txtTime->setMaximumWidth(96);
    ui.txtTime->setAlignment(Qt::AlignRight);
    ui.txtTime->setToolTip(L("Type milliseconds (250) or seconds (1.5 s) and press Enter"));
    layout->addWidget(ui.sldTime, 1);
    layout->addWidget(ui.txtTime);
    return row;
}

QWidget* cameraTab(Outlets& ui) {
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    ui.pouRes = new QComboBox(page);
    ui.pouClk = new QComboBox(page);
    ui.radBit = new RadioRow({L("8 bit"), L("16 bit")}, page);
    form->addRow(L("Resolution"), ui.pouRes);
    form->addRow(L("Pixel clock"), ui.pouClk);
    form->addRow(L("Bit depth"), ui.radBit);
    form->addRow(L("Gain"), sliderRow(page, ui.sldGain, ui.txtGain));
    form->addRow(L("Exposure (ms)"), exposureRow(page, ui));
    ui.chkAE = new QCheckBox(L("Automatic exposure"), page);
    form->addRow(QString(), ui.chkAE);
    ui.tilBlvl = new QLabel(L("Black level"), page);
    form->addRow(ui.tilBlvl, sliderRow(page, ui.sldBlvl, ui.txtBlvl));
    auto* buttons = new QHBoxLayout;
    ui.btnRestart = new QPushButton(L("Restart exposure"), page);
    ui.btnReset = new QPushButton(L("Defaults"), page);
    buttons->addWidget(ui.btnRestart);
    buttons->addWidget(ui.btnReset);
    form->addRow(buttons);
    return page;
}

QWidget* colourTab(Outlets& ui) {
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    ui.chkMono = new QCheckBox(L("Monochrome"), page);
    ui.chkColor = new QCheckBox(L("Colour enhancement"), page);
    form->addRow(QString(), ui.chkMono);
    form->addRow(QString(), ui.chkColor);
    form->addRow(L("Red"), sliderRow(page, ui.sldRed, ui.txtRed));
    form->addRow(L("Green"), sliderRow(page, ui.sldGreen, ui.txtGreen));
    form->addRow(L("Blue"), sliderRow(page, ui.sldBlue, ui.txtBlue));
    form->addRow(L("Saturation"), sliderRow(page, ui.sldSaturation, ui.txtSaturation));
    auto* balance = new QHBoxLayout;
    ui.btnWB = new QPushButton(L("White balance"), page);
    ui.txtWB = new QLabel(page);
    balance->addWidget(ui.btnWB);
    balance->addWidget(ui.txtWB, 1);
    form->addRow(balance);
    return page;
}

QWidget* imageTab(Outlets& ui) {
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    form->addRow(L("Gamma"), sliderRow(page, ui.sldGamma, ui.txtGamma));
    form->addRow(L("Contrast"), sliderRow(page, ui.sldContrast, ui.txtContrast));
    ui.chkHF = new QCheckBox(L("Flip horizontally"), page);
    ui.chkVF = new QCheckBox(L("Flip vertically"), page);
    form->addRow(QString(), ui.chkHF);
    form->addRow(QString(), ui.chkVF);
    auto* flat = new QHBoxLayout;
    ui.chkFF = new QCheckBox(L("Flat field"), page);
    ui.btnFF = new QPushButton(L("Take flat field"), page);
    flat->addWidget(ui.chkFF);
    flat->addWidget(ui.btnFF);
    form->addRow(flat);
    ui.btnCalib = new QPushButton(L("Calibration…"), page);
    form->addRow(L("Masters"), ui.btnCalib);
    return page;
}

QGroupBox* captureBox(Outlets& ui, QWidget* parent) {
    auto* box = new QGroupBox(L("Capture"), parent);
    auto* form = new QFormLayout(box);
    auto* folder = new QHBoxLayout;
    ui.txtPath = new QLineEdit(box);
    ui.btnBrowse = new QPushButton(L("Browse…"), box);
    folder->addWidget(ui.txtPath, 1);
    folder->addWidget(ui.btnBrowse);
    form->addRow(L("Folder"), folder);
    auto* formats = new QHBoxLayout;
    ui.chkRaw = new QCheckBox(QStringLiteral("RAW"), box);
    ui.chkTif = new QCheckBox(QStringLiteral("TIFF"), box);
    ui.chkPng = new QCheckBox(QStringLiteral("PNG"), box);
    ui.chkJpg = new QCheckBox(QStringLiteral("JPEG"), box);
    ui.chkBmp = new QCheckBox(QStringLiteral("BMP"), box);
    for (QCheckBox* check : {ui.chkRaw, ui.chkTif, ui.chkPng, ui.chkJpg, ui.chkBmp})
        formats->addWidget(check);
    form->addRow(L("Formats"), formats);
    // Shows the size of the stills, which is the live resolution's: not a
    // choice of its own.
    ui.pouSav = new QComboBox(box);
    ui.pouSav->setEnabled(false);
    ui.pouSav->setToolTip(L("Stills are taken at the resolution chosen above"));
    form->addRow(L("Still size"), ui.pouSav);
    auto* buttons = new QHBoxLayout;
    ui.btnSnap = new QPushButton(L("Capture"), box);
    ui.btnSnap->setToolTip(L("Take a still in the chosen formats (C)"));
    ui.btnMovie = new QPushButton(L("Start Video"), box);
    ui.btnMovie->setToolTip(L("Start or stop recording a movie (V)"));
    ui.btnRaw = new QPushButton(L("Record Raw"), box);
    ui.btnRaw->setToolTip(
        L("Start or stop recording the raw frames, losslessly, with each "
          "frame's time and settings"));
    buttons->addWidget(ui.btnSnap);
    buttons->addWidget(ui.btnMovie);
    buttons->addWidget(ui.btnRaw);
    form->addRow(buttons);

    auto* raw = new QHBoxLayout;
    ui.pouRawFormat = new QComboBox(box);
    for (const recording::FormatRow& row : recording::formats()) {
        ui.pouRawFormat->addItem(QString::fromUtf8(row.name), QString::fromUtf8(row.name));
        ui.pouRawFormat->setItemData(ui.pouRawFormat->count() - 1, QString::fromUtf8(row.help),
                                     Qt::ToolTipRole);
    }
    ui.spnRawLength = new QSpinBox(box);
    ui.spnRawLength->setRange(1, 10'000'000);
    ui.spnRawLength->setValue(100);
    ui.pouRawUnit = new QComboBox(box);
    ui.pouRawUnit->addItems({L("frames"), L("seconds")});
    raw->addWidget(ui.pouRawFormat, 1);
    raw->addWidget(ui.spnRawLength, 1);
    raw->addWidget(ui.pouRawUnit);
    form->addRow(L("Raw"), raw);
    ui.txtRaw = new QLabel(box);
    form->addRow(QString(), ui.txtRaw);
    return box;
}

}  // namespace

ViewerWindow::ViewerWindow(Outlets& outlets, QWidget* parent) : QMainWindow(parent), ui(outlets) {
    setWindowTitle(QStringLiteral("ezview"));
    auto* central = new QWidget(this);
    auto* columns = new QHBoxLayout(central);

    buildPictureTools(ui, this);
    auto* pictureColumn = new QVBoxLayout;
    ui.pView = new LiveView(central);
    pictureColumn->addWidget(ui.pView, 1);
    pictureColumn->addWidget(histogramRow(ui, central));
    ui.pView->setHistogramView(ui.hstView);
    columns->addLayout(pictureColumn, 1);

    auto* panel = new QWidget(central);
    auto* side = new QVBoxLayout(panel);
    side->setContentsMargins(0, 0, 0, 0);
    auto* cameraBox = new QGroupBox(L("Camera"), panel);
    auto* cameraRow = new QHBoxLayout(cameraBox);
    ui.pouDev = new QComboBox(cameraBox);
    ui.btnLive = new QPushButton(L("Live"), cameraBox);
    ui.btnLive->setEnabled(false);
    ui.btnLive->setToolTip(L("Start or stop the live picture (Space)"));
    ui.txtFPS = new QLabel(cameraBox);
    ui.txtFPS->setMinimumWidth(72);
    cameraRow->addWidget(ui.pouDev, 1);
    cameraRow->addWidget(ui.btnLive);
    cameraRow->addWidget(ui.txtFPS);
    side->addWidget(cameraBox);

    ui.tabView = new QTabWidget(panel);
    ui.tabView->addTab(cameraTab(ui), L("Sensor"));
    ui.tabItemColr = colourTab(ui);
    ui.tabView->addTab(ui.tabItemColr, L("Colour"));
    ui.tabView->addTab(imageTab(ui), L("Image"));
    side->addWidget(ui.tabView);
    side->addWidget(captureBox(ui, panel));
    side->addStretch(1);
    // Wider only when its controls need it (larger fonts): a narrower panel
    // would cut them off at the right. The picture keeps the rest.
    panel->setFixedWidth(std::max(kPanelWidth, panel->minimumSizeHint().width()));
    columns->addWidget(panel);
    setCentralWidget(central);

    ui.txtDev = new QLabel(this);
    ui.txtStatus = new QLabel(this);
    ui.txtPixel = new QLabel(this);
    ui.prgExposure = new QProgressBar(this);
    ui.prgExposure->setRange(0, 1000);
    ui.prgExposure->setMaximumWidth(180);
    ui.prgExposure->setToolTip(L("The exposure in flight"));
    ui.prgExposure->hide();
    statusBar()->addWidget(ui.txtDev, 1);
    statusBar()->addPermanentWidget(ui.txtPixel);
    statusBar()->addPermanentWidget(ui.prgExposure);
    statusBar()->addPermanentWidget(ui.txtStatus);
    nameControls();
}

void ViewerWindow::nameControls() {
    // Named by their outlets, so that a script driving the window finds
    // the controls whose text says nothing of what they are.
    const std::pair<QObject*, const char*> names[] = {
        {ui.pView, "pView"},
        {ui.hstView, "hstView"},
        {ui.tabView, "tabView"},
        {ui.tabItemColr, "tabItemColr"},
        {ui.pouDev, "pouDev"},
        {ui.txtDev, "txtDev"},
        {ui.btnLive, "btnLive"},
        {ui.txtFPS, "txtFPS"},
        {ui.txtStatus, "txtStatus"},
        {ui.txtPixel, "txtPixel"},
        {ui.prgExposure, "prgExposure"},
        {ui.pouRes, "pouRes"},
        {ui.pouSav, "pouSav"},
        {ui.pouClk, "pouClk"},
        {ui.radBit, "radBit"},
        {ui.sldGain, "sldGain"},
        {ui.txtGain, "txtGain"},
        {ui.sldTime, "sldTime"},
        {ui.txtTime, "txtTime"},
        {ui.chkAE, "chkAE"},
        {ui.sldBlvl, "sldBlvl"},
        {ui.txtBlvl, "txtBlvl"},
        {ui.tilBlvl, "tilBlvl"},
        {ui.btnRestart, "btnRestart"},
        {ui.btnReset, "btnReset"},
        {ui.txtPath, "txtPath"},
        {ui.btnBrowse, "btnBrowse"},
        {ui.chkRaw, "chkRaw"},
        {ui.chkTif, "chkTif"},
        {ui.chkPng, "chkPng"},
        {ui.chkJpg, "chkJpg"},
        {ui.chkBmp, "chkBmp"},
        {ui.btnSnap, "btnSnap"},
        {ui.btnMovie, "btnMovie"},
        {ui.pouRawFormat, "pouRawFormat"},
        {ui.spnRawLength, "spnRawLength"},
        {ui.pouRawUnit, "pouRawUnit"},
        {ui.btnRaw, "btnRaw"},
        {ui.txtRaw, "txtRaw"},
        {ui.chkFF, "chkFF"},
        {ui.btnFF, "btnFF"},
        {ui.btnCalib, "btnCalib"},
        {ui.chkHF, "chkHF"},
        {ui.chkVF, "chkVF"},
        {ui.sldGamma, "sldGamma"},
        {ui.txtGamma, "txtGamma"},
        {ui.sldContrast, "sldContrast"},
        {ui.txtContrast, "txtContrast"},
        {ui.chkMono, "chkMono"},
        {ui.chkColor, "chkColor"},
        {ui.btnWB, "btnWB"},
        {ui.txtWB, "txtWB"},
        {ui.sldRed, "sldRed"},
        {ui.txtRed, "txtRed"},
        {ui.sldGreen, "sldGreen"},
        {ui.txtGreen, "txtGreen"},
        {ui.sldBlue, "sldBlue"},
        {ui.txtBlue, "txtBlue"},
        {ui.sldSaturation, "sldSaturation"},
        {ui.txtSaturation, "txtSaturation"},
        {ui.actFit, "actFit"},
        {ui.actOneToOne, "actOneToOne"},
        {ui.actTwoToOne, "actTwoToOne"},
        {ui.actFourToOne, "actFourToOne"},
        {ui.txtZoom, "txtZoom"},
        {ui.actClipping, "actClipping"},
        {ui.actRegion, "actRegion"},
        {ui.actClearRegion, "actClearRegion"},
        {ui.pouObjective, "pouObjective"},
        {ui.actObjectives, "actObjectives"},
        {ui.actScaleBar, "actScaleBar"},
        {ui.actBarOnStills, "actBarOnStills"},
        {ui.chkLogHist, "chkLogHist"},
        {ui.txtFocus, "txtFocus"},
        {ui.btnFocusReset, "btnFocusReset"},
        {ui.actLive, "actLive"},
        {ui.actCapture, "actCapture"},
        {ui.actVideo, "actVideo"},
        {ui.actQuit, "actQuit"},
    };
    for (const auto& [control, name] : names) control->setObjectName(QString::fromLatin1(name));
}

void ViewerWindow::restoreWindowGeometry() {
    QSettings settings;
    if (!restoreGeometry(settings.value(QStringLiteral("window/geometry")).toByteArray()))
        resize(1200, 780);
}

void ViewerWindow::saveWindowGeometry() {
    QSettings settings;
    settings.setValue(QStringLiteral("window/geometry"), saveGeometry());
    settings.sync();
}

void ViewerWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange) ui.pView->setSuspended(isMinimized());
    QMainWindow::changeEvent(event);
}

}  // namespace viewer
