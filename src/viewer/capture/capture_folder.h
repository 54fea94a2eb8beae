// The capture folder: where stills, movies and raw recordings go, typed or
// chosen with Browse, kept in the settings file between sessions. It stays
// open to change whether a camera is loaded or not. Window thread only.
#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

class QLineEdit;
class QPushButton;

namespace viewer {

// The base name of a capture taken at `when`: the folder and the month,
// day, hour, minute and second as ten digits.
QString captureBaseName(const QString& directory, const QDateTime& when);

class CaptureFolder : public QObject {
    Q_OBJECT
  public:
    explicit CaptureFolder(QObject* parent = nullptr);

    QLineEdit* field() const { return txtPath; }
    QPushButton* browseButton() const { return btnBrowse; }

    // The folder kept in `settingsFile`, or `fallback` when it has none.
    void load(const QString& settingsFile, const QString& fallback);
    // Keeps the folder in `settingsFile`; false when it could not be written.
    bool save(const QString& settingsFile) const;

    // The folder as typed, created if missing so that nothing is lost.
    QString prepared() const;
    // The base name of a capture taken now, in the prepared folder.
    QString baseNameNow() const;

  private:
    QLineEdit* txtPath;  // ends with "/"
    QPushButton* btnBrowse;
};

}  // namespace viewer
