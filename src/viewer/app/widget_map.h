// Where the controls are on the screen, for scripts that drive the viewer
// with real mouse and key events (its scenario tests): every visible control
// of every window, with its kind, name, text, state and screen rectangle,
// written to a file whenever that changes.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

namespace viewer {

class WidgetMap : public QObject {
    Q_OBJECT
  public:
    // The map is written to `path` (through a file beside it, renamed over
    // it, so a reader never sees half a map).
    explicit WidgetMap(QString path, QObject* parent = nullptr);

    // One line per visible control, tab-separated: window title, class,
    // object name, text (a control without one: its accessible description),
    // enabled (1/0), x, y, width, height (screen pixels).
    // Tabs of a tab bar are lines of class "tab". The first lines name the
    // active window and the control with the keyboard focus.
    static QString describe();

  private:
    void writeIfChanged();

    QString path;
    QString written;
    QTimer timer;
};

}  // namespace viewer
