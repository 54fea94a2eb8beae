// Captions and log lines of the viewer.
#pragma once

#include <QCoreApplication>
#include <QString>

namespace viewer {

// A caption by key from the "InfoPlist" table; the key itself when the table
// has no entry.
inline QString L(const char* key) {
    return QCoreApplication::translate("InfoPlist", key);
}

// One line in the process log (standard error).
void viewerLog(const QString& line);

}  // namespace viewer
