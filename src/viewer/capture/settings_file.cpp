// The viewer's settings file, an XML property list.
#include "viewer/capture/settings_file.h"

#include <QFile>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace viewer {

QStringList readStringArray(const QString& file) {
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly)) return {};
    QXmlStreamReader xml(&in);
    QStringList strings;
    // plist > array > (string | other values); only a root array counts.
    if (!xml.readNextStartElement() || xml.name() != u"plist") return {};
    if (!xml.readNextStartElement() || xml.name() != u"array") return {};
    while (xml.readNextStartElement()) {
        if (xml.name() == u"string")
            strings << xml.readElementText();
        else {
            // Another kind of element: keep its place, as element 0 must be
            // the first element whatever its kind.
            strings << QString();
            xml.skipCurrentElement();
        }
    }
    if (xml.hasError()) return {};
    return strings;
}

bool writeStringArray(const QString& file, const QStringList& strings) {
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly)) return false;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(-1);  // one tab, as property lists are written
    xml.writeStartDocument();
    xml.writeDTD(
        QStringLiteral("<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                       "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">"));
    xml.writeStartElement(QStringLiteral("plist"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1.0"));
    xml.writeStartElement(QStringLiteral("array"));
    for (const QString& s : strings) xml.writeTextElement(QStringLiteral("string"), s);
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    return !xml.hasError() && out.commit();
}

QString capturePathFrom(const QString& file, const QString& fallback) {
    const QStringList strings = readStringArray(file);
    if (strings.isEmpty() || strings.front().isEmpty()) return fallback;
    return strings.front();
}

}  // namespace viewer
