// The viewer's command line.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace viewer {

// Simulated cameras when --simulate names none: one colour, one monochrome.
inline constexpr const char* kDefaultSimulation = "0547:c004,0547:c006";

struct ViewerOptions {
    bool help = false;
    std::optional<QString> simulate;  // camera list for EZCAM_SIM
    bool live = false;                // press Live once the first camera is loaded
    double quitAfter = 0;             // seconds; 0 runs until the window closes
    QString error;                    // non-empty for a bad command line
};

// Parses the arguments after the program name (Qt's own already removed).
ViewerOptions parseOptions(const QStringList& arguments);
QString usageText();

}  // namespace viewer
