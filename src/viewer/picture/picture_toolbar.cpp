// The picture's tools as the window lays them out.
#include "viewer/picture/picture_toolbar.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QToolBar>
#include <QVBoxLayout>

#include "viewer/captions.h"
#include "viewer/picture/histogram_view.h"

namespace viewer {

namespace {

QAction* action(QToolBar* bar, const QString& text, const QString& tip,
                const QKeySequence& key = {}, bool checkable = false) {
    QAction* a = bar->addAction(text);
    a->setToolTip(tip);
    a->setShortcut(key);
    a->setCheckable(checkable);
    return a;
}

}  // namespace

void buildPictureTools(Outlets& ui, QMainWindow* window) {
    auto* bar = new QToolBar(L("Picture"), window);
    bar->setObjectName(QStringLiteral("picture"));
    bar->setMovable(false);
    ui.actFit = action(bar, L("Fit"), L("Fit the picture to the window (F)"), Qt::Key_F, true);
    ui.actOneToOne = action(bar, QStringLiteral("1:1"), L("One camera pixel per screen pixel (1)"),
                            Qt::Key_1, true);
    ui.actTwoToOne = action(bar, QStringLiteral("2:1"), L("Two screen pixels per camera pixel (2)"),
                            Qt::Key_2, true);
    ui.actFourToOne = action(bar, QStringLiteral("4:1"),
                             L("Four screen pixels per camera pixel (4)"), Qt::Key_4, true);
    // One of them is checked at most: none while the wheel sets another zoom.
    auto* zooms = new QActionGroup(bar);
    zooms->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (QAction* a : {ui.actFit, ui.actOneToOne, ui.actTwoToOne, ui.actFourToOne})
        zooms->addAction(a);
    ui.actFit->setChecked(true);
    ui.txtZoom = new QLabel(bar);
    ui.txtZoom->setMinimumWidth(
        ui.txtZoom->fontMetrics().horizontalAdvance(QStringLiteral("0000 %")));
    ui.txtZoom->setToolTip(
        L("Wheel: zoom about the cursor; drag: move the picture; "
          "double-click: 1:1 or fit"));
    bar->addWidget(ui.txtZoom);
    bar->addSeparator();
    ui.actClipping =
        action(bar, L("Clipping"), L("Pixels at the raw maximum in magenta"), {}, true);
    bar->addSeparator();
    ui.actRegion =
        action(bar, L("Region"), L("Drag a region of interest on the picture (or drag with Shift)"),
               {}, true);
    ui.actClearRegion = action(bar, L("Whole frame"), L("Clear the region of interest"));
    bar->addSeparator();
    ui.pouObjective = new QComboBox(bar);
    ui.pouObjective->setToolTip(L("The objective in use, for the scale bar"));
    ui.pouObjective->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    bar->addWidget(ui.pouObjective);
    ui.actObjectives = action(bar, L("Objectives…"), L("Name the objectives and calibrate them"));
    ui.actScaleBar = action(bar, L("Scale bar"), L("A scale bar on the live picture"), {}, true);
    ui.actBarOnStills = action(bar, L("Bar on stills"),
                               L("Burn the scale bar into TIFF, PNG, JPEG and BMP stills "
                                 "(never into RAW)"),
                               {}, true);
    window->addToolBar(Qt::TopToolBarArea, bar);

    // Keys of the side panel's buttons: actions of the window, so they work
    // wherever the focus is, except while typing into a text field.
    const auto key = [window](const QKeySequence& sequence) {
        auto* a = new QAction(window);
        a->setShortcut(sequence);
        a->setShortcutContext(Qt::WindowShortcut);
        window->addAction(a);
        return a;
    };
    ui.actLive = key(Qt::Key_Space);
    ui.actCapture = key(Qt::Key_C);
    ui.actVideo = key(Qt::Key_V);
    ui.actQuit = key(QKeySequence::Quit);
    QObject::connect(ui.actQuit, &QAction::triggered, window, &QWidget::close);
}

QWidget* histogramRow(Outlets& ui, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    ui.hstView = new HistogramView(row);
    layout->addWidget(ui.hstView, 1);
    auto* side = new QVBoxLayout;
    ui.chkLogHist = new QCheckBox(L("Log counts"), row);
    ui.chkLogHist->setToolTip(L("Histogram heights by the logarithm of the counts"));
    ui.txtFocus = new QLabel(row);
    ui.txtFocus->setToolTip(L("Sharpness of the picture's centre: higher is sharper"));
    ui.txtFocus->setMinimumWidth(ui.txtFocus->fontMetrics().horizontalAdvance(
        L("Focus %1 · best %2").arg("0000.0", "0000.0")));
    ui.btnFocusReset = new QPushButton(L("Reset best"), row);
    side->addWidget(ui.chkLogHist);
    side->addWidget(ui.txtFocus);
    side->addWidget(ui.btnFocusReset, 0, Qt::AlignLeft);
    layout->addLayout(side);
    return row;
}

}  // namespace viewer
