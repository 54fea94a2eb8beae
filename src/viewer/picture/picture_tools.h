// The picture's tools at work: zoom, the clipping overlay, the histogram's
// scale, the focus aid, and the scale bar with its objectives. None of them
// addresses a camera: the controller tells them the binning of the
// resolution in force and the model's objective.
#pragma once

#include <QList>
#include <QObject>
#include <optional>

#include "viewer/outlets.h"
#include "viewer/picture/focus_measure.h"
#include "viewer/picture/scale_bar.h"

class QWidget;

namespace viewer {

class PictureTools : public QObject {
    Q_OBJECT
  public:
    // Connects the tools' controls; `window` parents the objectives dialog.
    PictureTools(Outlets& ui, QWidget* window);

    // The binning of the resolution in force (1 when unknown).
    void setBinning(int binning);
    // Chooses an objective by name; none when no objective has that name.
    void chooseObjective(const QString& name);
    QString objective() const;
    const QList<Objective>& objectives() const { return list; }
    // Replaces the objectives (and keeps them in the settings file).
    void setObjectives(const QList<Objective>& objectives);
    // Opens the dialog that edits them.
    void editObjectives();

    // Micrometres per image pixel with the chosen objective at the binning
    // in force; 0 without an objective.
    double micronsPerPixel() const;
    // Whether stills take the bar (it is asked for and an objective chosen).
    bool barOnStills() const;
    // The bar to burn into a still of `size`, when stills take one.
    std::optional<ScaleBar> stillBar(QSize size) const;

    // The best focus figure so far starts again (another camera or mode).
    void resetFocus();
    const FocusRecord& focus() const { return focusRecord; }

  signals:
    // The user chose another objective.
    void objectiveChosen(const QString& name);

  private:
    void fillObjectives(const QString& select);
    void showScaleBar();
    void showZoom();

    Outlets& ui;
    QWidget* window;
    QList<Objective> list;
    int binning = 1;
    FocusRecord focusRecord;
};

}  // namespace viewer
