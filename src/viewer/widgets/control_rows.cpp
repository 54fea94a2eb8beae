// The small building blocks of the settings panels.
#include "viewer/widgets/control_rows.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>

namespace viewer {

void nameControls(std::initializer_list<std::pair<QObject*, const char*>> names) {
    for (const auto& [control, name] : names) control->setObjectName(QString::fromLatin1(name));
}

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

void setSliderQuietly(QSlider* slider, int min, int max, int value) {
    const QSignalBlocker quiet(slider);
    slider->setRange(min, max);
    slider->setValue(value);
}

void setSliderQuietly(QSlider* slider, int value) {
    const QSignalBlocker quiet(slider);
    slider->setValue(value);
}

void setCheckedQuietly(QCheckBox* box, bool on) {
    const QSignalBlocker quiet(box);
    box->setChecked(on);
}

}  // namespace viewer
