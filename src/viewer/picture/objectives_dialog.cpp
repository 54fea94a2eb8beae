// The objectives dialog and the objectives kept in the settings file.
#include "viewer/picture/objectives_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>

#include "viewer/captions.h"

namespace viewer {

ObjectivesDialog::ObjectivesDialog(const QList<Objective>& objectives, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(L("Objectives"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(
        L("Micrometres one sensor pixel covers through each objective, at binning 1."), this));
    rows = new QTableWidget(0, 2, this);
    rows->setHorizontalHeaderLabels({L("Objective"), L("µm per pixel")});
    rows->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    rows->verticalHeader()->hide();
    for (const Objective& objective : objectives) addRow(objective);
    layout->addWidget(rows, 1);

    auto* edit = new QHBoxLayout;
    auto* add = new QPushButton(L("Add"), this);
    auto* remove = new QPushButton(L("Remove"), this);
    edit->addWidget(add);
    edit->addWidget(remove);
    edit->addStretch(1);
    layout->addLayout(edit);
    connect(add, &QPushButton::clicked, this, [this] {
        addRow({});
        rows->editItem(rows->item(rows->rowCount() - 1, 0));
    });
    connect(remove, &QPushButton::clicked, this, [this] {
        if (rows->currentRow() >= 0) rows->removeRow(rows->currentRow());
    });

    problem = new QLabel(this);
    problem->setStyleSheet(QStringLiteral("color: #c03030"));
    layout->addWidget(problem);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &ObjectivesDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ObjectivesDialog::reject);
    layout->addWidget(buttons);
    resize(420, 320);
}

void ObjectivesDialog::addRow(const Objective& objective) {
    const int row = rows->rowCount();
    rows->insertRow(row);
    rows->setItem(row, 0, new QTableWidgetItem(objective.name));
    rows->setItem(row, 1,
                  new QTableWidgetItem(objective.micronsPerPixel > 0
                                           ? QString::number(objective.micronsPerPixel, 'g', 6)
                                           : QString()));
}

void ObjectivesDialog::accept() {
    QList<Objective> result;
    for (int row = 0; row < rows->rowCount(); ++row) {
        const auto text = [&](int column) {
            const QTableWidgetItem* item = rows->item(row, column);
            return item ? item->text().trimmed() : QString();
        };
        const QString name = text(0), value = text(1);
        if (name.isEmpty() && value.isEmpty()) continue;
        bool ok = false;
        const double microns = QString(value).replace(',', '.').toDouble(&ok);
        if (name.isEmpty() || !ok || !std::isfinite(microns) || microns <= 0) {
            problem->setText(L("Row %1 needs a name and a positive number of micrometres per pixel")
                                 .arg(row + 1));
            return;
        }
        result.append({name, microns});
    }
    edited = result;
    QDialog::accept();
}

QList<Objective> savedObjectives() {
    QSettings settings;
    QList<Objective> objectives;
    const int n = settings.beginReadArray(QStringLiteral("objectives"));
    for (int i = 0; i < n; ++i) {
        settings.setArrayIndex(i);
        const Objective objective{settings.value(QStringLiteral("name")).toString(),
                                  settings.value(QStringLiteral("micronsPerPixel")).toDouble()};
        if (!objective.name.isEmpty() && objective.micronsPerPixel > 0)
            objectives.append(objective);
    }
    settings.endArray();
    return objectives;
}

void saveObjectives(const QList<Objective>& objectives) {
    QSettings settings;
    settings.remove(QStringLiteral("objectives"));
    settings.beginWriteArray(QStringLiteral("objectives"), int(objectives.size()));
    for (int i = 0; i < objectives.size(); ++i) {
        settings.setArrayIndex(i);
        settings.setValue(QStringLiteral("name"), objectives[i].name);
        settings.setValue(QStringLiteral("micronsPerPixel"), objectives[i].micronsPerPixel);
    }
    settings.endArray();
}

}  // namespace viewer
