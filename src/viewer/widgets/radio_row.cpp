// One row of radio cells.
#include "viewer/widgets/radio_row.h"

#include <QHBoxLayout>

namespace viewer {

RadioRow::RadioRow(const QStringList& captions, QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    for (int column = 0; column < captions.size(); ++column) {
        auto* cell = new QRadioButton(captions[column], this);
        group.addButton(cell, column);
        layout->addWidget(cell);
    }
    layout->addStretch(1);
    connect(&group, &QButtonGroup::idClicked, this, &RadioRow::cellClicked);
}

QRadioButton* RadioRow::cellAt(int column) const {
    return qobject_cast<QRadioButton*>(group.button(column));
}

int RadioRow::selectedColumn() const {
    return group.checkedId();
}

void RadioRow::selectColumn(int column) {
    if (QAbstractButton* cell = group.button(column)) cell->setChecked(true);
}

}  // namespace viewer
