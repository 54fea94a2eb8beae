// The calibration dialog and the status line's names of the masters in use.
#include "viewer/calibration/calibration_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <vector>

#include "ezcam.h"
#include "viewer/calibration/master_taker.h"
#include "viewer/captions.h"

namespace viewer {

CalibrationDialog::CalibrationDialog(std::string camera_, MasterTaker& taker_, QWidget* parent)
    : QDialog(parent), camera(std::move(camera_)), taker(taker_) {
    setWindowTitle(L("Calibration"));
    setModal(false);
    const char* c = camera.c_str();
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    chkOn = new QCheckBox(L("Calibrate raw frames with the library's masters"), this);
    bool on = false;
    GetCalibrationState(&on, c);
    chkOn->setChecked(on);
    form->addRow(chkOn);
    auto* library = new QHBoxLayout;
    char directory[4096] = "";
    GetCalibrationLibrary(directory, sizeof directory, c);
    txtLibrary = new QLineEdit(QString::fromUtf8(directory), this);
    txtLibrary->setObjectName(QStringLiteral("txtLibrary"));
    auto* browse = new QPushButton(L("Browse…"), this);
    library->addWidget(txtLibrary, 1);
    library->addWidget(browse);
    form->addRow(L("Library"), library);
    txtLabel = new QLineEdit(this);
    txtLabel->setObjectName(QStringLiteral("txtLabel"));
    txtLabel->setPlaceholderText(L("objective and filter of the flats"));
    form->addRow(L("Flats for"), txtLabel);
    spnFrames = new QSpinBox(this);
    spnFrames->setObjectName(QStringLiteral("spnFrames"));
    spnFrames->setRange(2, 1000);
    spnFrames->setValue(16);
    form->addRow(L("Frames per master"), spnFrames);
    layout->addLayout(form);

    auto* take = new QHBoxLayout;
    for (const int kind : {EZ_MASTER_DARK, EZ_MASTER_FLAT, EZ_MASTER_BIAS}) {
        auto* button = new QPushButton(L("Take %1").arg(MasterTaker::kindName(kind)), this);
        take->addWidget(button);
        takeButtons.push_back(button);
        connect(button, &QPushButton::clicked, this, [this, kind] { takeMaster(kind); });
    }
    btnCancel = new QPushButton(L("Cancel master"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancelMaster"));
    btnCancel->setEnabled(false);
    take->addWidget(btnCancel);
    layout->addLayout(take);
    prgFrames = new QProgressBar(this);
    prgFrames->setFormat(L("%v of %m frames"));
    prgFrames->hide();
    layout->addWidget(prgFrames);
    txtOutcome = new QLabel(this);
    txtOutcome->setObjectName(QStringLiteral("txtOutcome"));
    txtOutcome->setWordWrap(true);
    txtOutcome->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(txtOutcome);
    txtReport = new QPlainTextEdit(this);
    txtReport->setReadOnly(true);
    txtReport->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtReport->setMinimumSize(560, 220);
    layout->addWidget(txtReport, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    connect(chkOn, &QCheckBox::toggled, this, [this](bool state) {
        SetCalibrationState(state, camera.c_str());
        refresh();
        emit changed();
    });
    connect(txtLibrary, &QLineEdit::editingFinished, this, [this] {
        SetCalibrationLibrary(txtLibrary->text().toUtf8().constData(), camera.c_str());
        refresh();
        emit changed();
    });
    connect(txtLabel, &QLineEdit::editingFinished, this, [this] {
        applyMatch();
        refresh();
        emit changed();
    });
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString chosen = QFileDialog::getExistingDirectory(this, L("Calibration library"), txtLibrary->text());
        if (chosen.isEmpty()) return;
        txtLibrary->setText(chosen);
        emit txtLibrary->editingFinished();
    });
    connect(btnCancel, &QPushButton::clicked, this, [this] { taker.cancel(L("cancelled")); });
    connect(&taker, &MasterTaker::progressed, this, [this](int taken, int frames) {
        prgFrames->setRange(0, frames);
        prgFrames->setValue(taken);
    });
    connect(&taker, &MasterTaker::finished, this, &CalibrationDialog::masterFinished);

    // The matching follows the live frames while the dialog is open.
    taker.describeFrames(true);
    refreshTimer.setInterval(kRefreshMs);
    connect(&refreshTimer, &QTimer::timeout, this, &CalibrationDialog::refresh);
    refreshTimer.start();
    refresh();
}

CalibrationDialog::~CalibrationDialog() {
    // Nothing of this dialog may hear of the end of its master.
    disconnect(&taker, nullptr, this, nullptr);
    if (taking >= 0) taker.cancel(L("the calibration dialog was closed"));
    taker.describeFrames(false);
}

void CalibrationDialog::applyMatch() {
    SetCalibrationMatch(txtLabel->text().toUtf8().constData(), 2.0f, camera.c_str());
}

void CalibrationDialog::refresh() {
    std::vector<char> text(1 << 18);
    GetCalibrationReport(text.data(), static_cast<int>(text.size()), camera.c_str());
    const QString now = QString::fromUtf8(text.data());
    // Unchanged, it stays as it is: where it was scrolled to and what is selected.
    if (now != txtReport->toPlainText()) txtReport->setPlainText(now);
}

void CalibrationDialog::takeMaster(int kind) {
    if (taking >= 0 || taker.busy()) return;
    if (const QString refused = MasterTaker::refusal(camera, kind); !refused.isEmpty()) {
        txtOutcome->setText(refused);
        return;
    }
    if (kind == EZ_MASTER_FLAT) {
        begin(kind);
        return;
    }
    // A dark or a bias must see no light: the user covers the lens first.
    auto* ask = new QMessageBox(
        QMessageBox::Information, L("Cover the lens"),
        L("Cover the lens or close the shutter: no light may reach the sensor while the %1 "
          "is taken.")
            .arg(MasterTaker::kindName(kind)),
        QMessageBox::Ok | QMessageBox::Cancel, this);
    ask->setDefaultButton(QMessageBox::Ok);
    ask->setAttribute(Qt::WA_DeleteOnClose);
    connect(ask, &QMessageBox::finished, this, [this, ask, kind] {
        if (ask->clickedButton() == ask->button(QMessageBox::Ok))
            begin(kind);
        else
            txtOutcome->setText(L("No %1 taken: cancelled.").arg(MasterTaker::kindName(kind)));
    });
    ask->open();
}

void CalibrationDialog::begin(int kind) {
    applyMatch();
    QString error;
    if (!taker.start(camera, kind, txtLabel->text(), spnFrames->value(), error)) {
        txtOutcome->setText(error);
        return;
    }
    taking = kind;
    setTaking(true);
    txtOutcome->setText(L("Taking the %1…").arg(MasterTaker::kindName(kind)));
}

void CalibrationDialog::masterFinished(bool stored, const QString& text) {
    if (taking < 0) return;  // another dialog's master
    const bool covered = taking != EZ_MASTER_FLAT;
    taking = -1;
    setTaking(false);
    QString outcome = stored ? L("Stored %1").arg(text) : text;
    if (stored && covered) outcome += L("\nUncover the lens.");
    txtOutcome->setText(outcome);
    refresh();
    if (stored) emit changed();
}

void CalibrationDialog::setTaking(bool on) {
    for (QPushButton* button : takeButtons) button->setEnabled(!on);
    spnFrames->setEnabled(!on);
    btnCancel->setEnabled(on);
    prgFrames->setVisible(on);
    if (on) prgFrames->setValue(0);
}

std::vector<std::pair<std::string, std::string>> mastersByKind(const char* camera) {
    std::vector<std::pair<std::string, std::string>> masters;
    bool on = false;
    if (GetCalibrationState(&on, camera) != EZ_OK || !on) return masters;
    const std::pair<int, const char*> kinds[] = {
        {EZ_MASTER_DARK, "dark"}, {EZ_MASTER_FLAT, "flat"}, {EZ_MASTER_BIAS, "bias"}};
    for (const auto& [kind, name] : kinds) {
        char path[4096] = "";
        if (GetCalibrationMaster(kind, path, sizeof path, camera) == EZ_OK && path[0])
            masters.emplace_back(name, QFileInfo(QString::fromUtf8(path)).fileName().toStdString());
    }
    return masters;
}

QString mastersInUse(const char* camera) {
    bool on = false;
    if (GetCalibrationState(&on, camera) != EZ_OK || !on) return {};
    QStringList names;
    for (const auto& [kind, file] : mastersByKind(camera)) names << QString::fromStdString(file);
    return names.isEmpty() ? L("no calibration master applies") : L("calibrated: %1").arg(names.join(QStringLiteral(", ")));
}

}  // namespace viewer
