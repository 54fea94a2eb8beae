// The viewer's settings file "PhotosPath.txt": an XML property list whose root
// is an array of strings; element 0 is the capture directory.
#pragma once

#include <QString>
#include <QStringList>

namespace viewer {

// The strings of the file's root array; empty when the file is missing,
// unreadable or not such a property list.
QStringList readStringArray(const QString& file);
// Writes the array atomically; false when the file could not be written.
bool writeStringArray(const QString& file, const QStringList& strings);

// The capture directory kept in `file`, or `fallback` when it has none.
QString capturePathFrom(const QString& file, const QString& fallback);

}  // namespace viewer
