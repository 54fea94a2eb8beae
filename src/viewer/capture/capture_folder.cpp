// The capture folder.
#include "viewer/capture/capture_folder.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>

#include "viewer/captions.h"
#include "viewer/capture/folder_dialog.h"
#include "viewer/capture/settings_file.h"
#include "viewer/widgets/control_rows.h"

namespace viewer {

QString captureBaseName(const QString& directory, const QDateTime& when) {
    // A folder typed without its closing '/' still names a folder: without
    // the separator the files would land beside it, their names glued to it.
    QString folder = directory;
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    return folder + when.toString(QStringLiteral("MMddHHmmss"));
}

CaptureFolder::CaptureFolder(QObject* parent)
    : QObject(parent), txtPath(new QLineEdit), btnBrowse(new QPushButton(L("Browse…"))) {
    nameControls({{txtPath, "txtPath"}, {btnBrowse, "btnBrowse"}});
    connect(btnBrowse, &QPushButton::clicked, this, [this] {
        chooseFolder(btnBrowse->window(), txtPath->text(), [this](const QUrl& folder) {
            txtPath->setText(capturePathForFolder(folder));
        });
    });
}

void CaptureFolder::load(const QString& settingsFile, const QString& fallback) {
    txtPath->setText(capturePathFrom(settingsFile, fallback));
}

bool CaptureFolder::save(const QString& settingsFile) const {
    return writeStringArray(settingsFile, {txtPath->text()});
}

QString CaptureFolder::prepared() const {
    const QString directory = txtPath->text();
    if (!directory.isEmpty()) QDir().mkpath(directory);
    return directory;
}

QString CaptureFolder::baseNameNow() const {
    return captureBaseName(prepared(), QDateTime::currentDateTime());
}

}  // namespace viewer
