// The small dialog that edits the objectives: each a name and the
// micrometres one sensor pixel covers through it at binning 1.
#pragma once

#include <QDialog>
#include <QList>

#include "viewer/picture/scale_bar.h"

class QLabel;
class QTableWidget;

namespace viewer {

class ObjectivesDialog : public QDialog {
    Q_OBJECT
  public:
    explicit ObjectivesDialog(const QList<Objective>& objectives, QWidget* parent = nullptr);

    // The rows as objectives; empty rows left out. Valid after accept().
    QList<Objective> objectives() const { return edited; }
    QTableWidget* table() const { return rows; }
    QLabel* message() const { return problem; }

    // Closes only when every row has a name and a positive number of
    // micrometres; otherwise says which row is wrong.
    void accept() override;

  private:
    void addRow(const Objective& objective);

    QTableWidget* rows;
    QLabel* problem;
    QList<Objective> edited;
};

// The objectives kept in the settings file.
QList<Objective> savedObjectives();
void saveObjectives(const QList<Objective>& objectives);

}  // namespace viewer
