// The viewer's main window.
#include "viewer/viewer_window.h"

#include <QAction>
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
#include "viewer/live/live_controller.h"
#include "viewer/picture/picture_tools.h"
#include "viewer/session/status_line.h"
#include "viewer/settings/settings_tabs.h"
#include "viewer/widgets/radio_row.h"

namespace viewer {

namespace {

constexpr int kPanelWidth = 380;

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

ViewerWindow::ViewerWindow(Outlets& outlets, PictureTools& picture, LiveController& live,
                           SettingsTabs& settings, StatusLine& status, QWidget* parent)
    : QMainWindow(parent), ui(outlets), view(picture.view()) {
    setWindowTitle(QStringLiteral("ezview"));
    auto* central = new QWidget(this);
    auto* columns = new QHBoxLayout(central);

    addToolBar(Qt::TopToolBarArea, picture.toolBar());
    auto* pictureColumn = new QVBoxLayout;
    pictureColumn->addWidget(view, 1);
    pictureColumn->addWidget(picture.histogramRow());
    columns->addLayout(pictureColumn, 1);

    auto* panel = new QWidget(central);
    auto* side = new QVBoxLayout(panel);
    side->setContentsMargins(0, 0, 0, 0);
    auto* cameraBox = new QGroupBox(L("Camera"), panel);
    auto* cameraRow = new QHBoxLayout(cameraBox);
    ui.pouDev = new QComboBox(cameraBox);
    cameraRow->addWidget(ui.pouDev, 1);
    cameraRow->addWidget(live.button());
    cameraRow->addWidget(live.rateText());
    side->addWidget(cameraBox);

    side->addWidget(settings.widget());
    side->addWidget(captureBox(ui, panel));
    side->addStretch(1);
    // Wider only when its controls need it (larger fonts): a narrower panel
    // would cut them off at the right. The picture keeps the rest.
    panel->setFixedWidth(std::max(kPanelWidth, panel->minimumSizeHint().width()));
    columns->addWidget(panel);
    setCentralWidget(central);

    setStatusBar(status.bar());
    ui.txtDev = new QLabel(this);
    statusBar()->addWidget(ui.txtDev, 1);
    statusBar()->addPermanentWidget(picture.pixelReadout());
    statusBar()->addPermanentWidget(live.exposureProgress());
    statusBar()->addPermanentWidget(status.facts());
    addKeys(live.button());
    nameControls();
}

void ViewerWindow::addKeys(QPushButton* liveButton) {
    // Keys of the side panel's buttons: actions of the window, so they work
    // wherever the focus is, except while typing into a text field.
    const auto key = [this](const QKeySequence& sequence, const char* name) {
        auto* a = new QAction(this);
        a->setShortcut(sequence);
        a->setShortcutContext(Qt::WindowShortcut);
        a->setObjectName(QString::fromLatin1(name));
        addAction(a);
        return a;
    };
    connect(key(Qt::Key_Space, "actLive"), &QAction::triggered, liveButton, &QPushButton::click);
    connect(key(Qt::Key_C, "actCapture"), &QAction::triggered, ui.btnSnap, &QPushButton::click);
    connect(key(Qt::Key_V, "actVideo"), &QAction::triggered, ui.btnMovie, &QPushButton::click);
    connect(key(QKeySequence::Quit, "actQuit"), &QAction::triggered, this, &QWidget::close);
}

void ViewerWindow::nameControls() {
    // Named by their outlets, so that a script driving the window finds
    // the controls whose text says nothing of what they are.
    const std::pair<QObject*, const char*> names[] = {
        {ui.pouDev, "pouDev"},
        {ui.txtDev, "txtDev"},
        {ui.pouSav, "pouSav"},
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
    if (event->type() == QEvent::WindowStateChange) view->setSuspended(isMinimized());
    QMainWindow::changeEvent(event);
}

}  // namespace viewer
