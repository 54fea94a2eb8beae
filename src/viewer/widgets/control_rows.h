// The small building blocks of the settings panels: a slider with its value
// beside it, quiet setters for a control the camera fills (no action sent
// back), and object names for the controls a script looks for.
#pragma once

#include <QString>
#include <initializer_list>
#include <utility>

class QCheckBox;
class QLabel;
class QObject;
class QSlider;
class QWidget;

namespace viewer {

// Names controls, so that scripts and tests find those whose text says
// nothing of what they are.
void nameControls(std::initializer_list<std::pair<QObject*, const char*>> names);

QSlider* slider(QWidget* parent);
// The value text to the right of a slider.
QLabel* readout(QWidget* parent);
// A slider with its value text on the right; both made here.
QWidget* sliderRow(QWidget* parent, QSlider*& slider, QLabel*& text);

// Range and value from the camera, without sending them back to it.
void setSliderQuietly(QSlider* slider, int min, int max, int value);
void setSliderQuietly(QSlider* slider, int value);
void setCheckedQuietly(QCheckBox* box, bool on);

}  // namespace viewer
