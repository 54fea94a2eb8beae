// The pixel readout of the status line.
#include "viewer/picture/pixel_readout.h"

#include <QStringList>

#include "processing/bayer.h"

namespace viewer {

const char* bayerSites(int bayer) {
    return bayer::patternName(bayer);
}

std::optional<PixelReadout> readoutAt(const ShownFrame& frame, QPoint at) {
    if (!QRect(QPoint(), frame.size()).contains(at)) return std::nullopt;
    PixelReadout r;
    r.at = at;
    r.channels = frame.picture.format() == QImage::Format_Grayscale8 ? 1 : 3;
    r.finishedDepth = frame.deep ? 16 : 8;
    for (int c = 0; c < r.channels; ++c)
        r.finished[c] = frame.deep ? frame.deep->at(at, c)
                                   : frame.picture.constScanLine(at.y())[at.x() * r.channels + c];
    if (frame.raw && frame.map) {
        const SampleGrid& raw = *frame.raw;
        r.hasRaw = true;
        r.rawAt = frame.map->rawOf(at);
        r.bayer = raw.bayer;
        if (r.bayer) {
            const QPoint corner(r.rawAt.x() & ~1, r.rawAt.y() & ~1);
            r.tileSite = (r.rawAt.y() - corner.y()) * 2 + (r.rawAt.x() - corner.x());
            for (int i = 0; i < 4; ++i) {
                const QPoint p = corner + QPoint(i % 2, i / 2);
                r.tileInside[i] = raw.contains(p);
                if (r.tileInside[i]) r.tile[i] = raw.at(p);
            }
        } else {
            r.tile[0] = raw.at(r.rawAt);
        }
    }
    return r;
}

QString readoutText(const PixelReadout& r) {
    QStringList parts{QStringLiteral("x %1  y %2").arg(r.at.x()).arg(r.at.y())};
    if (r.hasRaw) {
        QString raw = QStringLiteral("raw");
        if (r.bayer) {
            const char* sites = bayerSites(r.bayer);
            for (int i = 0; i < 4; ++i) {
                if (!r.tileInside[i]) continue;
                const QString sample = QStringLiteral("%1 %2").arg(QChar(sites[i])).arg(r.tile[i]);
                raw += i == r.tileSite ? QStringLiteral(" [%1]").arg(sample) : ' ' + sample;
            }
        } else {
            raw += QStringLiteral(" %1").arg(r.tile[0]);
        }
        parts << raw;
    }
    QString finished = r.channels == 3 ? QStringLiteral("RGB") : QStringLiteral("grey");
    for (int c = 0; c < r.channels; ++c) finished += QStringLiteral(" %1").arg(r.finished[c]);
    parts << finished;
    return parts.join(QStringLiteral(" · "));
}

}  // namespace viewer
