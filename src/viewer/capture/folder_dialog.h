// The folder chooser of the capture directory.
#pragma once

#include <QString>
#include <QUrl>
#include <functional>

class QWidget;

namespace viewer {

// Opens a folder chooser as a sheet on `window` (folders only, new folders
// allowed, one selection); `chosen` receives the folder when the user
// confirms. Returns at once.
void chooseFolder(QWidget* window, const QString& start, std::function<void(const QUrl&)> chosen);

// The capture-directory text for a chosen folder: its path and one "/".
QString capturePathForFolder(const QUrl& folder);

}  // namespace viewer
