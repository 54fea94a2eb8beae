// What the viewer remembers of each camera model.
#include "viewer/session/model_memory.h"

#include <QSettings>

namespace viewer {

namespace {

QString field(const QString& model, const char* name) {
    return QStringLiteral("models/%1/%2").arg(model, QLatin1String(name));
}

}  // namespace

QString ModelMemory::keyOf(int vendor, int product) {
    return QString::asprintf("%04x:%04x", vendor & 0xffff, product & 0xffff);
}

bool ModelMemory::known(const QString& model) const {
    return QSettings().value(field(model, "known"), false).toBool();
}

void ModelMemory::markKnown(const QString& model) {
    QSettings().setValue(field(model, "known"), true);
}

QString ModelMemory::objective(const QString& model) const {
    return QSettings().value(field(model, "objective")).toString();
}

void ModelMemory::setObjective(const QString& model, const QString& name) {
    QSettings().setValue(field(model, "objective"), name);
}

}  // namespace viewer
