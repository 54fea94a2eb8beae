// The picture's tools as the window lays them out: the tool bar (zoom, the
// clipping overlay, regions, objectives and the scale bar), the row under the
// picture (histogram, its scale, the focus aid) and the keys of the buttons.
#pragma once

#include "viewer/outlets.h"

class QMainWindow;
class QWidget;

namespace viewer {

// Adds the tool bar and the key actions to the window; fills their outlets.
void buildPictureTools(Outlets& ui, QMainWindow* window);

// The histogram beside its scale choice and the focus figure.
QWidget* histogramRow(Outlets& ui, QWidget* parent);

}  // namespace viewer
