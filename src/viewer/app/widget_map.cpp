// The controls' screen map.
#include "viewer/app/widget_map.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSaveFile>
#include <QTabBar>
#include <QWidget>

namespace viewer {

namespace {

// Map is polled this often: a script waits for what it needs, not for the map.
constexpr int kLookMs = 100;

QString textOf(const QWidget* w) {
    if (const auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
    if (const auto* c = qobject_cast<const QComboBox*>(w)) return c->currentText();
    if (const auto* e = qobject_cast<const QLineEdit*>(w)) return e->text();
    if (const auto* s = qobject_cast<const QAbstractSpinBox*>(w)) return s->text();
    if (const auto* s = qobject_cast<const QAbstractSlider*>(w)) return QString::number(s->value());
    if (const auto* l = qobject_cast<const QLabel*>(w)) return l->text();
    return w->accessibleDescription();  // what a picture shows, for one
}

// Tabs and line ends would break the line apart.
QString field(QString text) {
    return text.replace('\t', ' ').replace('\n', ' ').replace('\r', ' ');
}

QString line(const QString& window, const QString& kind, const QString& name, const QString& text,
             bool enabled, const QRect& r) {
    return QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6\t%7\t%8\t%9\n")
        .arg(field(window), kind, field(name), field(text), QString::number(enabled ? 1 : 0))
        .arg(r.x())
        .arg(r.y())
        .arg(r.width())
        .arg(r.height());
}

}  // namespace

WidgetMap::WidgetMap(QString path_, QObject* parent) : QObject(parent), path(std::move(path_)) {
    timer.setInterval(kLookMs);
    connect(&timer, &QTimer::timeout, this, &WidgetMap::writeIfChanged);
    timer.start();
}

QString WidgetMap::describe() {
    QString map;
    const QWidget* active = QApplication::activeWindow();
    map += QStringLiteral("active\t%1\n").arg(active ? field(active->windowTitle()) : QString());
    const QWidget* focus = QApplication::focusWidget();
    map += QStringLiteral("focus\t%1\t%2\n")
               .arg(focus ? focus->metaObject()->className() : "",
                    focus ? field(focus->objectName()) : QString());
    for (const QWidget* top : QApplication::topLevelWidgets()) {
        if (!top->isVisible()) continue;
        const QString title = top->windowTitle();
        QList<const QWidget*> widgets{top};
        for (const QWidget* child : top->findChildren<const QWidget*>()) widgets << child;
        for (const QWidget* w : widgets) {
            if (!w->isVisible() || w->width() <= 0 || w->height() <= 0) continue;
            // Only windows of their own belong to another title.
            if (w != top && w->isWindow()) continue;
            const QRect onScreen(w->mapToGlobal(QPoint(0, 0)), w->size());
            map += line(title, w->metaObject()->className(), w->objectName(), textOf(w),
                        w->isEnabled(), onScreen);
            if (const auto* bar = qobject_cast<const QTabBar*>(w))
                for (int i = 0; i < bar->count(); ++i) {
                    const QRect tab = bar->tabRect(i);
                    map += line(title, QStringLiteral("tab"), QString(), bar->tabText(i),
                                bar->isTabEnabled(i),
                                QRect(bar->mapToGlobal(tab.topLeft()), tab.size()));
                }
        }
    }
    return map;
}

void WidgetMap::writeIfChanged() {
    const QString now = describe();
    if (now == written) return;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return;
    file.write(now.toUtf8());
    if (file.commit()) written = now;
}

}  // namespace viewer
