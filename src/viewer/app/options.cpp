// The viewer's command line.
#include "viewer/app/options.h"

#include <cmath>

namespace viewer {

ViewerOptions parseOptions(const QStringList& arguments) {
    ViewerOptions options;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& word = arguments[i];
        const bool hasValue = i + 1 < arguments.size() && !arguments[i + 1].startsWith('-');
        if (word == u"-h" || word == u"--help") {
            options.help = true;
        } else if (word == u"--simulate") {
            options.simulate = hasValue ? arguments[++i] : QString::fromLatin1(kDefaultSimulation);
        } else if (word.startsWith(u"--simulate=")) {
            options.simulate = word.mid(11);
        } else if (word == u"--live") {
            options.live = true;
        } else if (word == u"--quit-after" || word.startsWith(u"--quit-after=")) {
            QString value;
            if (word.contains('='))
                value = word.mid(word.indexOf('=') + 1);
            else if (hasValue)
                value = arguments[++i];
            bool ok = false;
            const double seconds = value.toDouble(&ok);
            if (!ok || !std::isfinite(seconds) || seconds <= 0 || seconds > 86400 * 365) {
                options.error = QStringLiteral("--quit-after needs a positive number of seconds");
                return options;
            }
            options.quitAfter = seconds;
        } else {
            options.error = QStringLiteral("unknown argument '%1'").arg(word);
            return options;
        }
    }
    if (options.simulate && options.simulate->isEmpty())
        options.simulate = QString::fromLatin1(kDefaultSimulation);
    return options;
}

QString usageText() {
    return QStringLiteral(
               "usage: ezview [--simulate [LIST]] [--live] [--quit-after SECONDS]\n"
               "\n"
               "The ezcam viewer: live picture, settings, stills and movies of the\n"
               "connected cameras.\n"
               "\n"
               "options:\n"
               "  --simulate [LIST]       use simulated cameras instead of the USB bus;\n"
               "                          LIST as for EZCAM_SIM, vendor:product[@release]\n"
               "                          in hexadecimal, comma-separated (default %1)\n"
               "  --live                  start the live view once the first camera is loaded\n"
               "  --quit-after SECONDS    quit after that time as if the window were closed\n"
               "  -h, --help              this text\n"
               "\n"
               "Qt's own options (for example -geometry WxH+X+Y or -platform offscreen)\n"
               "are accepted too.\n"
               "\n"
               "environment:\n"
               "  EZVIEW_WIDGET_MAP=FILE  keep in FILE where every visible control is on\n"
               "                          the screen (for scripts that drive the window)\n")
        .arg(QString::fromLatin1(kDefaultSimulation));
}

}  // namespace viewer
