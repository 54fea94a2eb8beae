// The picture's tools at work.
#include "viewer/picture/picture_tools.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <cmath>

#include "viewer/captions.h"
#include "viewer/picture/histogram_view.h"
#include "viewer/picture/live_view.h"
#include "viewer/picture/objectives_dialog.h"

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

}  // namespace

PictureTools::PictureTools(Outlets& outlets, QWidget* parentWindow)
    : QObject(parentWindow), ui(outlets), window(parentWindow) {
    LiveView* view = ui.pView;
    connect(ui.actFit, &QAction::triggered, view, &LiveView::fitToView);
    const struct {
        QAction* action;
        double scale;
    } zooms[] = {{ui.actOneToOne, 1}, {ui.actTwoToOne, 2}, {ui.actFourToOne, 4}};
    for (const auto& [action, scale] : zooms)
        connect(action, &QAction::triggered, view, [view, s = scale] { view->zoomTo(s); });
    connect(view, &LiveView::zoomChanged, this, &PictureTools::showZoom);

    keepChecked(ui.actClipping, kClipping);
    connect(ui.actClipping, &QAction::toggled, view, &LiveView::setClippingShown);
    view->setClippingShown(ui.actClipping->isChecked());
    ui.chkLogHist->setChecked(QSettings().value(QLatin1String(kLogHistogram), false).toBool());
    ui.hstView->setLogarithmic(ui.chkLogHist->isChecked());
    connect(ui.chkLogHist, &QCheckBox::toggled, this, [this](bool on) {
        ui.hstView->setLogarithmic(on);
        QSettings().setValue(QLatin1String(kLogHistogram), on);
    });

    connect(ui.actRegion, &QAction::toggled, view, &LiveView::setRegionTool);
    // One region per press of the tool.
    connect(view, &LiveView::regionDrawn, ui.actRegion,
            [this] { ui.actRegion->setChecked(false); });

    connect(view, &LiveView::frameShown, this, [this] {
        if (const auto frame = ui.pView->frame()) focusRecord.add(frame->focus);
        ui.txtFocus->setText(focusRecord.text());
    });
    connect(ui.btnFocusReset, &QPushButton::clicked, this, &PictureTools::resetFocus);

    keepChecked(ui.actScaleBar, kScaleBar);
    keepChecked(ui.actBarOnStills, kBarOnStills);
    connect(ui.actScaleBar, &QAction::toggled, this, &PictureTools::showScaleBar);
    connect(ui.actObjectives, &QAction::triggered, this, &PictureTools::editObjectives);
    connect(ui.pouObjective, &QComboBox::activated, this, [this] {
        showScaleBar();
        emit objectiveChosen(objective());
    });
    list = savedObjectives();
    fillObjectives(QString());
    showZoom();
}

void PictureTools::fillObjectives(const QString& select) {
    ui.pouObjective->clear();
    ui.pouObjective->addItem(L("No objective"));
    for (const Objective& o : list)
        ui.pouObjective->addItem(QStringLiteral("%1 (%2 µm)").arg(o.name).arg(o.micronsPerPixel));
    int index = 0;
    for (int i = 0; i < list.size(); ++i)
        if (list[i].name == select) index = i + 1;
    ui.pouObjective->setCurrentIndex(index);
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
    const int i = ui.pouObjective->currentIndex() - 1;
    return i >= 0 && i < list.size() ? list[i].name : QString();
}

void PictureTools::setObjectives(const QList<Objective>& objectives) {
    const QString chosen = objective();
    list = objectives;
    saveObjectives(list);
    fillObjectives(chosen);
}

void PictureTools::editObjectives() {
    auto* dialog = new ObjectivesDialog(list, window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        setObjectives(dialog->objectives());
        emit objectiveChosen(objective());
    });
    dialog->open();
}

double PictureTools::micronsPerPixel() const {
    const int i = ui.pouObjective->currentIndex() - 1;
    return i >= 0 && i < list.size() ? list[i].micronsPerPixel * binning : 0;
}

bool PictureTools::barOnStills() const {
    return ui.actBarOnStills->isChecked() && micronsPerPixel() > 0;
}

std::optional<ScaleBar> PictureTools::stillBar(QSize size) const {
    if (!barOnStills()) return std::nullopt;
    const ScaleBar bar = chooseScaleBar(micronsPerPixel(), size.width() / 5.0);
    return bar.valid() ? std::optional(bar) : std::nullopt;
}

void PictureTools::resetFocus() {
    focusRecord.reset();
    ui.txtFocus->clear();
}

void PictureTools::showScaleBar() {
    ui.pView->setScaleBar(ui.actScaleBar->isChecked() ? micronsPerPixel() : 0);
}

void PictureTools::showZoom() {
    const bool fit = ui.pView->fitting();
    const double scale = ui.pView->scale();
    ui.actFit->setChecked(fit);
    const struct {
        QAction* action;
        double scale;
    } zooms[] = {{ui.actOneToOne, 1}, {ui.actTwoToOne, 2}, {ui.actFourToOne, 4}};
    for (const auto& [action, s] : zooms) action->setChecked(!fit && scale == s);
    ui.txtZoom->setText(QStringLiteral("%1 %").arg(std::lround(scale * 100)));
}

}  // namespace viewer
