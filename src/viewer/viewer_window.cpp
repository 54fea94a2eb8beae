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
#include <QSettings>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "viewer/captions.h"
#include "viewer/capture/capture_folder.h"
#include "viewer/capture/movie_capture.h"
#include "viewer/capture/still_capture.h"
#include "viewer/live/live_controller.h"
#include "viewer/picture/live_view.h"
#include "viewer/picture/picture_tools.h"
#include "viewer/recording/raw_recording_controls.h"
#include "viewer/session/camera_session.h"
#include "viewer/session/status_line.h"
#include "viewer/settings/settings_tabs.h"

namespace viewer {

namespace {

constexpr int kPanelWidth = 380;

}  // namespace

ViewerWindow::ViewerWindow(const WindowParts& parts, QWidget* parent)
    : QMainWindow(parent), view(parts.picture.view()) {
    setWindowTitle(QStringLiteral("ezview"));
    auto* central = new QWidget(this);
    auto* columns = new QHBoxLayout(central);

    addToolBar(Qt::TopToolBarArea, parts.picture.toolBar());
    auto* pictureColumn = new QVBoxLayout;
    pictureColumn->addWidget(view, 1);
    pictureColumn->addWidget(parts.picture.histogramRow());
    columns->addLayout(pictureColumn, 1);

    auto* panel = new QWidget(central);
    auto* side = new QVBoxLayout(panel);
    side->setContentsMargins(0, 0, 0, 0);
    side->addWidget(cameraBox(parts, panel));
    side->addWidget(parts.settings.widget());
    side->addWidget(captureBox(parts, panel));
    side->addStretch(1);
    // Wider only when its controls need it (larger fonts): a narrower panel
    // would cut them off at the right. The picture keeps the rest.
    panel->setFixedWidth(std::max(kPanelWidth, panel->minimumSizeHint().width()));
    columns->addWidget(panel);
    setCentralWidget(central);

    setStatusBar(parts.status.bar());
    statusBar()->addWidget(parts.session.news(), 1);
    statusBar()->addPermanentWidget(parts.picture.pixelReadout());
    statusBar()->addPermanentWidget(parts.live.exposureProgress());
    statusBar()->addPermanentWidget(parts.status.facts());
    addKeys(parts);
}

QGroupBox* ViewerWindow::cameraBox(const WindowParts& parts, QWidget* parent) {
    auto* box = new QGroupBox(L("Camera"), parent);
    auto* row = new QHBoxLayout(box);
    row->addWidget(parts.session.list(), 1);
    row->addWidget(parts.live.button());
    row->addWidget(parts.live.rateText());
    return box;
}

QGroupBox* ViewerWindow::captureBox(const WindowParts& parts, QWidget* parent) {
    auto* box = new QGroupBox(L("Capture"), parent);
    auto* form = new QFormLayout(box);
    auto* folder = new QHBoxLayout;
    folder->addWidget(parts.folder.field(), 1);
    folder->addWidget(parts.folder.browseButton());
    form->addRow(L("Folder"), folder);
    auto* formats = new QHBoxLayout;
    for (QCheckBox* check : parts.stills.formatBoxes()) formats->addWidget(check);
    form->addRow(L("Formats"), formats);
    form->addRow(L("Still size"), parts.stills.stillSize());
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(parts.stills.button());
    buttons->addWidget(parts.movies.button());
    buttons->addWidget(parts.raw.button());
    form->addRow(buttons);
    auto* raw = new QHBoxLayout;
    raw->addWidget(parts.raw.formatList(), 1);
    raw->addWidget(parts.raw.lengthField(), 1);
    raw->addWidget(parts.raw.unitList());
    form->addRow(L("Raw"), raw);
    form->addRow(QString(), parts.raw.countText());
    return box;
}

void ViewerWindow::addKeys(const WindowParts& parts) {
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
    connect(key(Qt::Key_Space, "actLive"), &QAction::triggered, parts.live.button(),
            &QPushButton::click);
    connect(key(Qt::Key_C, "actCapture"), &QAction::triggered, parts.stills.button(),
            &QPushButton::click);
    connect(key(Qt::Key_V, "actVideo"), &QAction::triggered, parts.movies.button(),
            &QPushButton::click);
    connect(key(QKeySequence::Quit, "actQuit"), &QAction::triggered, this, &QWidget::close);
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
