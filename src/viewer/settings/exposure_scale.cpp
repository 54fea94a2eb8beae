// Exposure as people set it.
#include "viewer/settings/exposure_scale.h"

#include <QRegularExpression>
#include <algorithm>
#include <cmath>

namespace viewer {

namespace {

// The logarithmic scale starts at the shortest exposure above zero.
double lowEnd(const ExposureRange& r) {
    return std::max({double(r.min), double(r.step), 1e-3});
}

}  // namespace

float snapExposure(const ExposureRange& r, double ms) {
    if (!r.usable()) return r.min;
    const double steps =
        std::round((std::clamp(ms, double(r.min), double(r.max)) - r.min) / r.step);
    return float(std::min(double(r.max), r.min + steps * r.step));
}

int exposureSliderPosition(const ExposureRange& r, double ms) {
    const double low = lowEnd(r), high = r.max;
    if (!r.usable() || high <= low) return 0;
    const double at = std::log(std::clamp(ms, low, high) / low) / std::log(high / low);
    return int(std::lround(at * kExposureSliderSteps));
}

float exposureAtSlider(const ExposureRange& r, int position) {
    const double low = lowEnd(r), high = r.max;
    if (!r.usable() || high <= low) return r.min;
    const double at = std::clamp(position, 0, kExposureSliderSteps) / double(kExposureSliderSteps);
    return snapExposure(r, low * std::pow(high / low, at));
}

std::optional<double> parseExposure(const QString& text) {
    static const QRegularExpression form(
        QStringLiteral("^\\s*(\\d+(?:[.,]\\d*)?|[.,]\\d+)\\s*(us|µs|ms|s|sec|min)?\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch()) return std::nullopt;
    bool ok = false;
    const double value = match.captured(1).replace(',', '.').toDouble(&ok);
    if (!ok || !std::isfinite(value)) return std::nullopt;
    const QString unit = match.captured(2).toLower();
    if (unit == u"us" || unit == u"µs") return value / 1000;
    if (unit == u"s" || unit == u"sec") return value * 1000;
    if (unit == u"min") return value * 60000;
    return value;
}

QString durationText(double ms) {
    if (ms >= 1000) return QStringLiteral("%1 s").arg(QString::number(ms / 1000, 'g', 4));
    return QStringLiteral("%1 ms").arg(QString::number(ms, 'g', 4));
}

}  // namespace viewer
