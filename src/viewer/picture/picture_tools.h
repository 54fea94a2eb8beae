// The live picture and its tools: the picture itself, the tool bar (zoom,
// the clipping overlay, regions, objectives and the scale bar), the row
// under the picture (histogram, its scale, the focus aid) and the pixel
// readout. None of them addresses a camera: the camera's parts tell them the
// binning of the resolution in force and the model's objective, and a region
// drawn or cleared is handed on. Window thread only.
#pragma once

#include <QList>
#include <QObject>
#include <optional>

#include "viewer/picture/focus_measure.h"
#include "viewer/picture/scale_bar.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QToolBar;
class QWidget;

namespace viewer {

class HistogramView;
class LiveView;

class PictureTools : public QObject {
    Q_OBJECT
  public:
    // Makes the picture and the tools' controls; the window places them.
    explicit PictureTools(QObject* parent = nullptr);

    LiveView* view() const { return pView; }
    QToolBar* toolBar() const { return bar; }
    // The histogram beside its scale choice and the focus figure.
    QWidget* histogramRow() const { return histogram; }
    // The pixel under the cursor, for the status line.
    QLabel* pixelReadout() const { return txtPixel; }

    // Regions act on a camera: their tools are open only while one is loaded.
    void setRegionToolsEnabled(bool on);

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
    // The user asked for the whole frame again (the region cleared).
    void wholeFrameAsked();

  private:
    void buildToolBar();
    void buildHistogramRow();
    void connectTools();
    void fillObjectives(const QString& select);
    void showScaleBar();
    void showZoom();

    QList<Objective> list;
    int binning = 1;
    FocusRecord focusRecord;

    LiveView* pView;
    QToolBar* bar = nullptr;
    QAction* actFit = nullptr;
    QAction* actOneToOne = nullptr;
    QAction* actTwoToOne = nullptr;
    QAction* actFourToOne = nullptr;
    QLabel* txtZoom = nullptr;
    QAction* actClipping = nullptr;  // clipped pixels in the warning colour
    QAction* actRegion = nullptr;    // the next drag draws a region of interest
    QAction* actClearRegion = nullptr;
    QComboBox* pouObjective = nullptr;  // objectives, and "No objective"
    QAction* actObjectives = nullptr;   // edits them
    QAction* actScaleBar = nullptr;     // on the live picture
    QAction* actBarOnStills = nullptr;  // burned into TIFF, PNG, JPEG and BMP stills
    QWidget* histogram = nullptr;
    HistogramView* hstView = nullptr;
    QCheckBox* chkLogHist = nullptr;
    QLabel* txtFocus = nullptr;
    QPushButton* btnFocusReset = nullptr;
    QLabel* txtPixel;
};

}  // namespace viewer
