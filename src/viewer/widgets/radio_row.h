// One row of radio cells, as the bit-depth choice uses: column 0 and column 1.
#pragma once

#include <QButtonGroup>
#include <QRadioButton>
#include <QStringList>
#include <QWidget>

namespace viewer {

class RadioRow : public QWidget {
    Q_OBJECT
  public:
    RadioRow(const QStringList& captions, QWidget* parent = nullptr);

    QRadioButton* cellAt(int column) const;
    // The selected column, or -1.
    int selectedColumn() const;
    // Selects a column without sending cellClicked.
    void selectColumn(int column);

  signals:
    // The user chose a cell.
    void cellClicked(int column);

  private:
    QButtonGroup group;
};

}  // namespace viewer
