// The viewer's log lines.
#include <cstdio>

#include "viewer/captions.h"

namespace viewer {

void viewerLog(const QString& line) {
    // One write per line, so lines of different threads never mix.
    const QByteArray text = line.toLocal8Bit() + '\n';
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
}

}  // namespace viewer
