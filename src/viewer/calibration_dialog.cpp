// The calibration dialog and the status line's names of the masters in use.
#include "viewer/calibration_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <vector>

#include "ezcam.h"
#include "viewer/captions.h"

namespace viewer {

CalibrationDialog::CalibrationDialog(std::string camera_, std::function<bool()> liveRunning,
                                     QWidget* parent)
    : QDialog(parent), camera(std::move(camera_)), live(std::move(liveRunning)) {
    setWindowTitle(L("Calibration"));
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
    auto* browse = new QPushButton(L("Browse…"), this);
    library->addWidget(txtLibrary, 1);
    library->addWidget(browse);
    form->addRow(L("Library"), library);
    txtLabel = new QLineEdit(this);
    txtLabel->setPlaceholderText(L("objective and filter of the flats"));
    form->addRow(L("Flats for"), txtLabel);
    spnFrames = new QSpinBox(this);
    spnFrames->setRange(2, 1000);
    spnFrames->setValue(16);
    form->addRow(L("Frames per master"), spnFrames);
    layout->addLayout(form);

    auto* take = new QHBoxLayout;
    const struct {
        const char* text;
        int kind;
    } kinds[] = {{"Take dark", EZ_MASTER_DARK}, {"Take flat", EZ_MASTER_FLAT}, {"Take bias", EZ_MASTER_BIAS}};
    for (const auto& k : kinds) {
        auto* button = new QPushButton(L(k.text), this);
        take->addWidget(button);
        connect(button, &QPushButton::clicked, this, [this, kind = k.kind] { takeMaster(kind); });
    }
    layout->addLayout(take);
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
    refresh();
}

void CalibrationDialog::applyMatch() {
    SetCalibrationMatch(txtLabel->text().toUtf8().constData(), 2.0f, camera.c_str());
}

void CalibrationDialog::refresh() {
    std::vector<char> text(1 << 18);
    GetCalibrationReport(text.data(), static_cast<int>(text.size()), camera.c_str());
    txtReport->setPlainText(QString::fromUtf8(text.data()));
}

bool CalibrationDialog::takeMaster(int kind) {
    const char* c = camera.c_str();
    if (live && live()) {
        txtReport->setPlainText(L("Stop the live view first: the master takes the camera's frames."));
        return false;
    }
    applyMatch();
    const int frames = spnFrames->value();
    std::vector<unsigned char> buffer(static_cast<size_t>(std::max(RecvMemSize(c), 0)));
    QProgressDialog progress(L("Taking the master…"), L("Cancel"), 0, frames, this);
    progress.setWindowModality(Qt::WindowModal);
    ResumeDevice(c);
    EzFrameInfo info{};
    int result = BeginMaster(kind, txtLabel->text().toUtf8().constData(), c);
    int taken = 0, attempts = 0;
    bool first = true;  // a frame under way may predate the settings
    while (result == EZ_OK && taken < frames && attempts++ < 4 * frames + 20 && !progress.wasCanceled()) {
        const int r = GetRawDataInfo(buffer.data(), static_cast<int>(buffer.size()), &info, c);
        if (r != 0 && r != 1) continue;
        if (first) {
            first = false;
            continue;
        }
        result = AddMasterFrame(buffer.data(), &info, c);
        progress.setValue(++taken);
    }
    SuspendDevice(c);
    char path[4096] = "";
    QString outcome;
    if (progress.wasCanceled())
        outcome = L("Cancelled.");
    else if (result != EZ_OK || taken < frames)
        outcome = L("The frames could not be taken (the settings changed, or the camera lost them).");
    else if (FinishMaster(path, sizeof path, c) != EZ_OK)
        outcome = kind == EZ_MASTER_FLAT ? L("No flat made: take a dark or a bias at these settings first.")
                                         : L("The master could not be stored in the library.");
    refresh();
    if (!path[0]) {
        txtReport->setPlainText(outcome + QStringLiteral("\n\n") + txtReport->toPlainText());
        return false;
    }
    txtReport->setPlainText(L("Stored %1\n\n").arg(QString::fromUtf8(path)) + txtReport->toPlainText());
    emit changed();
    return true;
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
