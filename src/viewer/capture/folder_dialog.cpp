// The folder chooser of the capture directory.
#include "viewer/capture/folder_dialog.h"

#include <QFileDialog>

namespace viewer {

void chooseFolder(QWidget* window, const QString& start, std::function<void(const QUrl&)> chosen) {
    auto* dialog = new QFileDialog(window, QString(), start);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setWindowModality(Qt::WindowModal);
    QObject::connect(dialog, &QFileDialog::urlsSelected, dialog,
                     [chosen = std::move(chosen)](const QList<QUrl>& urls) {
                         if (urls.size() == 1) chosen(urls.front());
                     });
    dialog->open();
}

QString capturePathForFolder(const QUrl& folder) {
    // A folder URL may name this machine as "localhost": only its path counts.
    QString path = folder.isLocalFile() && folder.host().isEmpty()
                       ? folder.toLocalFile()
                       : folder.toString(QUrl::FullyDecoded);
    const QString host = QStringLiteral("file://localhost");
    if (const qsizetype at = path.indexOf(host); at >= 0) path.remove(0, at + host.size());
    if (!path.endsWith('/')) path += '/';
    return path;
}

}  // namespace viewer
