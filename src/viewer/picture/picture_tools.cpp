// The live picture and its tools.
#include "viewer/picture/picture_tools.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QToolBar>
#include <QVBoxLayout>
#include <cmath>

#include "viewer/captions.h"
#include "viewer/picture/histogram_view.h"
#include "viewer/picture/live_view.h"
#include "viewer/picture/objectives_dialog.h"
#include "viewer/widgets/control_rows.h"

namespace viewer {

namespace {

// View preferences kept in the settings file, by key.
constexpr const char* kClipping = "view/clipping";
constexpr const char* kLogHistogram = "view/logHistogram";
constexpr const char* kScaleBar = "view/scaleBar";
constexpr const char* kBarOnStills = "view/barOnStills";

void keepChecked(QAction* action, const char* key) {
    action->setChecked(QSettings().value(QLatin1String(key), false).toBool());
    QObject::connect(action, &QAction::toggled,
                     [key](bool on) { QSettings().setValue(QLatin1String(key), on); });
}

QAction* action(QToolBar* bar, const QString& text, const QString& tip,
                const QKeySequence& key = {}, bool checkable = false) {
    QAction* a = bar->addAction(text);
    a->setToolTip(tip);
    a->setShortcut(key);
    a->setCheckable(checkable);
    return a;
}

}  // namespace

PictureTools::PictureTools(QObject* parent)
    : QObject(parent), pView(new LiveView), txtPixel(new QLabel) {
    buildToolBar();
    buildHistogramRow();
    pView->setHistogramView(hstView);
    nameControls({{pView, "pView"},
                  {hstView, "hstView"},
                  {txtPixel, "txtPixel"},
                  {actFit, "actFit"},
                  {actOneToOne, "actOneToOne"},
                  {actTwoToOne, "actTwoToOne"},
                  {actFourToOne, "actFourToOne"},
                  {txtZoom, "txtZoom"},
                  {actClipping, "actClipping"},
                  {actRegion, "actRegion"},
                  {actClearRegion, "actClearRegion"},
                  {pouObjective, "pouObjective"},
                  {actObjectives, "actObjectives"},
                  {actScaleBar, "actScaleBar"},
                  {actBarOnStills, "actBarOnStills"},
                  {chkLogHist, "chkLogHist"},
                  {txtFocus, "txtFocus"},
                  {btnFocusReset, "btnFocusReset"}});
    connectTools();
    list = savedObjectives();
    fillObjectives(QString());
    showZoom();
}

void PictureTools::buildToolBar() {
    bar = new QToolBar(L("Picture"));
    bar->setObjectName(QStringLiteral("picture"));
    bar->setMovable(false);
    actFit = action(bar, L("Fit"), L("Fit the picture to the window (F)"), Qt::Key_F, true);
    actOneToOne = action(bar, QStringLiteral("1:1"), L("One camera pixel per screen pixel (1)"),
                         Qt::Key_1, true);
    actTwoToOne = action(bar, QStringLiteral("2:1"), L("Two screen pixels per camera pixel (2)"),
                         Qt::Key_2, true);
    actFourToOne = action(bar, QStringLiteral("4:1"), L("Four screen pixels per camera pixel (4)"),
                          Qt::Key_4, true);
    // One of them is checked at most: none while the wheel sets another zoom.
    auto* zooms = new QActionGroup(bar);
    zooms->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (QAction* a : {actFit, actOneToOne, actTwoToOne, actFourToOne}) zooms->addAction(a);
    actFit->setChecked(true);
    txtZoom = new QLabel(bar);
    txtZoom->setMinimumWidth(txtZoom->fontMetrics().horizontalAdvance(QStringLiteral("0000 %")));
    txtZoom->setToolTip(
        L("Wheel: zoom about the cursor; drag: move the picture; "
          "double-click: 1:1 or fit"));
    bar->addWidget(txtZoom);
    bar->addSeparator();
    actClipping = action(bar, L("Clipping"), L("Pixels at the raw maximum in magenta"), {}, true);
    bar->addSeparator();
    actRegion =
        action(bar, L("Region"), L("Drag a region of interest on the picture (or drag with Shift)"),
               {}, true);
    actClearRegion = action(bar, L("Whole frame"), L("Clear the region of interest"));
    bar->addSeparator();
    pouObjective = new QComboBox(bar);
    pouObjective->setToolTip(L("The objective in use, for the scale bar"));
    pouObjective->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    bar->addWidget(pouObjective);
    actObjectives = action(bar, L("Objectives…"), L("Name the objectives and calibrate them"));
    actScaleBar = action(bar, L("Scale bar"), L("A scale bar on the live picture"), {}, true);
    actBarOnStills = action(bar, L("Bar on stills"),
                            L("Burn the scale bar into TIFF, PNG, JPEG and BMP stills "
                              "(never into RAW)"),
                            {}, true);
}

void PictureTools::buildHistogramRow() {
    histogram = new QWidget;
    auto* layout = new QHBoxLayout(histogram);
    layout->setContentsMargins(0, 0, 0, 0);
    hstView = new HistogramView(histogram);
    layout->addWidget(hstView, 1);
    auto* side = new QVBoxLayout;
    chkLogHist = new QCheckBox(L("Log counts"), histogram);
    chkLogHist->setToolTip(L("Histogram heights by the logarithm of the counts"));
    txtFocus = new QLabel(histogram);
    txtFocus->setToolTip(L("Sharpness of the picture's centre: higher is sharper"));
    txtFocus->setMinimumWidth(
        txtFocus->fontMetrics().horizontalAdvance(L("Focus %1 · best %2").arg("0000.0", "0000.0")));
    btnFocusReset = new QPushButton(L("Reset best"), histogram);
    side->addWidget(chkLogHist);
    side->addWidget(txtFocus);
    side->addWidget(btnFocusReset, 0, Qt::AlignLeft);
    layout->addLayout(side);
}

void PictureTools::connectTools() {
    LiveView* view = pView;
    connect(actFit, &QAction::triggered, view, &LiveView::fitToView);
    const struct {
        QAction* action;
        double scale;
    } zooms[] = {{actOneToOne, 1}, {actTwoToOne, 2}, {actFourToOne, 4}};
    for (const auto& [zoom, scale] : zooms)
        connect(zoom, &QAction::triggered, view, [view, s = scale] { view->zoomTo(s); });
    connect(view, &LiveView::zoomChanged, this, &PictureTools::showZoom);
    connect(view, &LiveView::readoutChanged, txtPixel, &QLabel::setText);

    keepChecked(actClipping, kClipping);
    connect(actClipping, &QAction::toggled, view, &LiveView::setClippingShown);
    view->setClippingShown(actClipping->isChecked());
    chkLogHist->setChecked(QSettings().value(QLatin1String(kLogHistogram), false).toBool());
    hstView->setLogarithmic(chkLogHist->isChecked());
    connect(chkLogHist, &QCheckBox::toggled, this, [this](bool on) {
        hstView->setLogarithmic(on);
        QSettings().setValue(QLatin1String(kLogHistogram), on);
    });

    connect(actRegion, &QAction::toggled, view, &LiveView::setRegionTool);
    // One region per press of the tool.
    connect(view, &LiveView::regionDrawn, actRegion, [this] { actRegion->setChecked(false); });
    connect(actClearRegion, &QAction::triggered, this, &PictureTools::wholeFrameAsked);

    connect(view, &LiveView::frameShown, this, [this] {
        if (const auto frame = pView->frame()) focusRecord.add(frame->focus);
        txtFocus->setText(focusRecord.text());
    });
    connect(btnFocusReset, &QPushButton::clicked, this, &PictureTools::resetFocus);

    keepChecked(actScaleBar, kScaleBar);
    keepChecked(actBarOnStills, kBarOnStills);
    connect(actScaleBar, &QAction::toggled, this, &PictureTools::showScaleBar);
    connect(actObjectives, &QAction::triggered, this, &PictureTools::editObjectives);
    connect(pouObjective, &QComboBox::activated, this, [this] {
        showScaleBar();
        emit objectiveChosen(objective());
    });
}

void PictureTools::setRegionToolsEnabled(bool on) {
    actRegion->setEnabled(on);
    actClearRegion->setEnabled(on);
}

void PictureTools::fillObjectives(const QString& select) {
    pouObjective->clear();
    pouObjective->addItem(L("No objective"));
    for (const Objective& o : list)
        pouObjective->addItem(QStringLiteral("%1 (%2 µm)").arg(o.name).arg(o.micronsPerPixel));
    int index = 0;
    for (int i = 0; i < list.size(); ++i)
        if (list[i].name == select) index = i + 1;
    pouObjective->setCurrentIndex(index);
    showScaleBar();
}

void PictureTools::setBinning(int b) {
    binning = b > 0 ? b : 1;
    showScaleBar();
}

void PictureTools::chooseObjective(const QString& name) {
    fillObjectives(name);
}

QString PictureTools::objective() const {
    const int i = pouObjective->currentIndex() - 1;
    return i >= 0 && i < list.size() ? list[i].name : QString();
}

void PictureTools::setObjectives(const QList<Objective>& objectives) {
    const QString chosen = objective();
    list = objectives;
    saveObjectives(list);
    fillObjectives(chosen);
}

void PictureTools::editObjectives() {
    // A sheet on the window that shows the picture.
    auto* dialog = new ObjectivesDialog(list, pView->window());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        setObjectives(dialog->objectives());
        emit objectiveChosen(objective());
    });
    dialog->open();
}

double PictureTools::micronsPerPixel() const {
    const int i = pouObjective->currentIndex() - 1;
    return i >= 0 && i < list.size() ? list[i].micronsPerPixel * binning : 0;
}

bool PictureTools::barOnStills() const {
    return actBarOnStills->isChecked() && micronsPerPixel() > 0;
}

std::optional<ScaleBar> PictureTools::stillBar(QSize size) const {
    if (!barOnStills()) return std::nullopt;
    const ScaleBar scaleBar = chooseScaleBar(micronsPerPixel(), size.width() / 5.0);
    return scaleBar.valid() ? std::optional(scaleBar) : std::nullopt;
}

void PictureTools::resetFocus() {
    focusRecord.reset();
    txtFocus->clear();
}

void PictureTools::showScaleBar() {
    pView->setScaleBar(actScaleBar->isChecked() ? micronsPerPixel() : 0);
}

void PictureTools::showZoom() {
    const bool fit = pView->fitting();
    const double scale = pView->scale();
    actFit->setChecked(fit);
    const struct {
        QAction* action;
        double scale;
    } zooms[] = {{actOneToOne, 1}, {actTwoToOne, 2}, {actFourToOne, 4}};
    for (const auto& [zoom, s] : zooms) zoom->setChecked(!fit && scale == s);
    txtZoom->setText(QStringLiteral("%1 %").arg(std::lround(scale * 100)));
}

}  // namespace viewer
