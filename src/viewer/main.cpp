// ezview: the ezcam viewer. Live picture, settings, stills and movies of the
// connected cameras, or of simulated ones.
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "viewer/app/options.h"
#include "viewer/app/quit_signals.h"
#include "viewer/app/widget_map.h"
#include "viewer/captions.h"
#include "viewer/viewer.h"
#include "viewer/viewer_window.h"

int main(int argc, char** argv) {
    // Help needs no display.
    for (int i = 1; i < argc; ++i)
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::fputs(viewer::usageText().toLocal8Bit().constData(), stdout);
            return 0;
        }

    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("ezcam"));
    QCoreApplication::setApplicationName(QStringLiteral("ezview"));
    const viewer::ViewerOptions options = viewer::parseOptions(app.arguments().mid(1));
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "ezview: %s\nTry 'ezview --help'.\n",
                     options.error.toLocal8Bit().constData());
        return 2;
    }
    if (options.simulate) {
        // Read by the SDK when it first looks at the bus.
        qputenv("EZCAM_SIM", options.simulate->toLatin1());
        viewer::viewerLog(QStringLiteral("Simulated cameras: ") + *options.simulate);
    }

    viewer::Viewer viewer;
    viewer::ViewerWindow& window = viewer.window();
    window.restoreWindowGeometry();
    window.show();
    viewer::closeOnQuitSignals(&window);
    // For scripts that drive the window with real input events.
    if (const QString map = qEnvironmentVariable("EZVIEW_WIDGET_MAP"); !map.isEmpty())
        new viewer::WidgetMap(map, &window);
    viewer.launch();
    if (options.live) viewer.startLiveWhenReady();
    if (options.quitAfter > 0)
        QTimer::singleShot(static_cast<int>(options.quitAfter * 1000), &window, &QWidget::close);
    const int status = app.exec();
    viewer.terminate();
    return status;
}
