// Chart layout, ticks and legend, and the two drawings of it: SVG text and
// QPainter on a QImage.
#include "chart.h"

#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace chart {
namespace {

constexpr const char* kFamily = "DejaVu Sans";

struct Font {
    int px = 11;
    bool bold = false;
    bool italic = false;
};
constexpr Font kTitle{15, true}, kCaption{11}, kAxisLabel{13}, kTick{11}, kLegend{11};

QFont qfont(const Font& f) {
    QFont font(kFamily);
    font.setPixelSize(f.px);
    font.setBold(f.bold);
    font.setItalic(f.italic);
    // Metrics that scale with the drawing: the PNG is drawn at several
    // device pixels per unit, the SVG at whatever size it is shown.
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setStyleStrategy(QFont::PreferOutline);
    return font;
}

double textWidth(const std::string& text, const Font& f) {
    return QFontMetricsF(qfont(f)).horizontalAdvance(QString::fromStdString(text));
}
double ascent(const Font& f) { return QFontMetricsF(qfont(f)).ascent(); }
double descent(const Font& f) { return QFontMetricsF(qfont(f)).descent(); }
double lineHeight(const Font& f) { return QFontMetricsF(qfont(f)).lineSpacing(); }

enum class Anchor { Start, Middle, End };

struct Pen {
    uint32_t colour = 0;
    double width = 1;
    bool dashed = false;
    double opacity = 1;
};

// What the layout draws with; one implementation per file format.
class Canvas {
  public:
    virtual ~Canvas() = default;
    virtual void group(const std::string& id) = 0;  // empty: end the group
    virtual void polyline(const std::vector<QPointF>& points, const Pen& pen) = 0;
    virtual void rect(const QRectF& r, const Pen* stroke, const uint32_t* fill, double fillOpacity) = 0;
    virtual void marker(QPointF at, Marker shape, uint32_t colour) = 0;
    // `at` is the start, middle or end of the baseline; vertical text reads upwards.
    virtual void text(QPointF at, const std::string& text, const Font& font, Anchor anchor,
                      bool vertical, const std::string& cls) = 0;
    virtual void clip(const QRectF* r) = 0;  // null: back to the whole figure
};

// ---- SVG ------------------------------------------------------------------------------

std::string colourText(uint32_t rgb) {
    char s[8];
    std::snprintf(s, sizeof s, "#%06x", rgb & 0xffffffu);
    return s;
}

std::string num(double v) {
    char s[32];
    std::snprintf(s, sizeof s, "%.2f", std::isfinite(v) ? v : 0.0);
    std::string t = s;
    while (!t.empty() && t.back() == '0') t.pop_back();
    if (!t.empty() && t.back() == '.') t.pop_back();
    return t == "-0" ? "0" : t;
}

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default:
                if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') out += c;
        }
    }
    return out;
}

class SvgCanvas : public Canvas {
  public:
    explicit SvgCanvas(const std::string& prefix) : prefix_(escaped(prefix) + "-") {}
    std::string body;

    void group(const std::string& id) override {
        body += id.empty() ? "</g>\n" : "<g id=\"" + prefix_ + escaped(id) + "\">\n";
    }
    void polyline(const std::vector<QPointF>& p, const Pen& pen) override {
        if (p.size() < 2) return;
        body += "<polyline fill=\"none\" stroke=\"" + colourText(pen.colour) + "\" stroke-width=\"" +
                num(pen.width) + "\"";
        if (pen.dashed) body += " stroke-dasharray=\"6 4\"";
        if (pen.opacity < 1) body += " stroke-opacity=\"" + num(pen.opacity) + "\"";
        body += " stroke-linejoin=\"round\" points=\"";
        for (size_t i = 0; i < p.size(); ++i) body += (i ? " " : "") + num(p[i].x()) + "," + num(p[i].y());
        body += "\"/>\n";
    }
    void rect(const QRectF& r, const Pen* stroke, const uint32_t* fill, double fillOpacity) override {
        body += "<rect x=\"" + num(r.x()) + "\" y=\"" + num(r.y()) + "\" width=\"" + num(r.width()) +
                "\" height=\"" + num(r.height()) + "\" fill=\"" + (fill ? colourText(*fill) : "none") + "\"";
        if (fill && fillOpacity < 1) body += " fill-opacity=\"" + num(fillOpacity) + "\"";
        if (stroke)
            body += " stroke=\"" + colourText(stroke->colour) + "\" stroke-width=\"" + num(stroke->width) + "\"";
        body += "/>\n";
    }
    void marker(QPointF at, Marker shape, uint32_t colour) override {
        const std::string c = colourText(colour), x = num(at.x()), y = num(at.y());
        switch (shape) {
            case Marker::None: break;
            case Marker::Disc:
                body += "<circle cx=\"" + x + "\" cy=\"" + y + "\" r=\"3.2\" fill=\"" + c + "\"/>\n";
                break;
            case Marker::Ring:
                body += "<circle cx=\"" + x + "\" cy=\"" + y + "\" r=\"3.4\" fill=\"#ffffff\" stroke=\"" + c +
                        "\" stroke-width=\"1.3\"/>\n";
                break;
            case Marker::Square:
                body += "<rect x=\"" + num(at.x() - 3) + "\" y=\"" + num(at.y() - 3) +
                        "\" width=\"6\" height=\"6\" fill=\"" + c + "\"/>\n";
                break;
            case Marker::Cross:
                body += "<path d=\"M" + num(at.x() - 3.5) + "," + num(at.y() - 3.5) + "L" + num(at.x() + 3.5) +
                        "," + num(at.y() + 3.5) + "M" + num(at.x() - 3.5) + "," + num(at.y() + 3.5) + "L" +
                        num(at.x() + 3.5) + "," + num(at.y() - 3.5) + "\" stroke=\"" + c +
                        "\" stroke-width=\"1.5\" fill=\"none\"/>\n";
                break;
        }
    }
    void text(QPointF at, const std::string& t, const Font& f, Anchor anchor, bool vertical,
              const std::string& cls) override {
        body += "<text";
        if (!cls.empty()) body += " class=\"" + cls + "\"";
        body += " x=\"" + num(at.x()) + "\" y=\"" + num(at.y()) + "\" font-size=\"" + std::to_string(f.px) + "\"";
        if (f.bold) body += " font-weight=\"bold\"";
        if (f.italic) body += " font-style=\"italic\"";
        if (anchor != Anchor::Start) body += anchor == Anchor::Middle ? " text-anchor=\"middle\"" : " text-anchor=\"end\"";
        if (vertical) body += " transform=\"rotate(-90 " + num(at.x()) + " " + num(at.y()) + ")\"";
        body += ">" + escaped(t) + "</text>\n";
    }
    void clip(const QRectF* r) override {
        if (clipped_) body += "</g>\n";
        clipped_ = r != nullptr;
        if (!r) return;
        const std::string id = prefix_ + "clip" + std::to_string(++clips_);
        body += "<clipPath id=\"" + id + "\"><rect x=\"" + num(r->x()) + "\" y=\"" + num(r->y()) + "\" width=\"" +
                num(r->width()) + "\" height=\"" + num(r->height()) + "\"/></clipPath>\n<g clip-path=\"url(#" + id +
                ")\">\n";
    }

  private:
    std::string prefix_;
    bool clipped_ = false;
    int clips_ = 0;
};

// ---- QPainter -------------------------------------------------------------------------

QColor qcolour(uint32_t rgb, double opacity = 1) {
    QColor c(static_cast<int>((rgb >> 16) & 255), static_cast<int>((rgb >> 8) & 255), static_cast<int>(rgb & 255));
    c.setAlphaF(static_cast<float>(opacity));
    return c;
}

class PainterCanvas : public Canvas {
  public:
    explicit PainterCanvas(QPainter& p) : p_(p) {}

    void group(const std::string&) override {}
    void polyline(const std::vector<QPointF>& points, const Pen& pen) override {
        if (points.size() < 2) return;
        QPen q(qcolour(pen.colour, pen.opacity), pen.width);
        q.setJoinStyle(Qt::RoundJoin);
        q.setCapStyle(Qt::FlatCap);
        if (pen.dashed) q.setDashPattern({6 / pen.width, 4 / pen.width});
        p_.setPen(q);
        p_.setBrush(Qt::NoBrush);
        p_.drawPolyline(points.data(), static_cast<int>(points.size()));
    }
    void rect(const QRectF& r, const Pen* stroke, const uint32_t* fill, double fillOpacity) override {
        p_.setPen(stroke ? QPen(qcolour(stroke->colour), stroke->width) : QPen(Qt::NoPen));
        p_.setBrush(fill ? QBrush(qcolour(*fill, fillOpacity)) : QBrush(Qt::NoBrush));
        p_.drawRect(r);
    }
    void marker(QPointF at, Marker shape, uint32_t colour) override {
        const QColor c = qcolour(colour);
        switch (shape) {
            case Marker::None: break;
            case Marker::Disc:
                p_.setPen(Qt::NoPen);
                p_.setBrush(c);
                p_.drawEllipse(at, 3.2, 3.2);
                break;
            case Marker::Ring:
                p_.setPen(QPen(c, 1.3));
                p_.setBrush(Qt::white);
                p_.drawEllipse(at, 3.4, 3.4);
                break;
            case Marker::Square:
                p_.setPen(Qt::NoPen);
                p_.setBrush(c);
                p_.drawRect(QRectF(at.x() - 3, at.y() - 3, 6, 6));
                break;
            case Marker::Cross:
                p_.setPen(QPen(c, 1.5));
                p_.drawLine(at + QPointF(-3.5, -3.5), at + QPointF(3.5, 3.5));
                p_.drawLine(at + QPointF(-3.5, 3.5), at + QPointF(3.5, -3.5));
                break;
        }
    }
    void text(QPointF at, const std::string& t, const Font& f, Anchor anchor, bool vertical,
              const std::string&) override {
        const QString s = QString::fromStdString(t);
        const QFont font = qfont(f);
        const double w = QFontMetricsF(font).horizontalAdvance(s);
        const double shift = anchor == Anchor::Start ? 0 : anchor == Anchor::Middle ? w / 2 : w;
        p_.save();
        p_.setFont(font);
        p_.setPen(Qt::black);
        p_.translate(at);
        if (vertical) p_.rotate(-90);
        p_.drawText(QPointF(-shift, 0), s);
        p_.restore();
    }
    void clip(const QRectF* r) override {
        if (r)
            p_.setClipRect(*r);
        else
            p_.setClipping(false);
    }

  private:
    QPainter& p_;
};

// ---- Axes -----------------------------------------------------------------------------

struct Tick {
    double value;
    bool major;
    std::string label;  // empty: no value printed
};

// A step of 1, 2, 2.5 or 5 times a power of ten that cuts the span into
// about `wanted` parts.
double niceStep(double span, int wanted) {
    const double raw = span / std::max(wanted, 1);
    const double p = std::pow(10.0, std::floor(std::log10(raw)));
    double best = p;
    for (double m : {0.5, 1.0, 2.0, 2.5, 5.0, 10.0})
        if (std::fabs(std::log(span / (m * p) / wanted)) < std::fabs(std::log(span / best / wanted))) best = m * p;
    return best;
}

// The range an axis shows: its own, or the data's with a margin so that no
// point sits on the frame.
struct Range {
    double lo = 0, hi = 1;
};

constexpr double kMargin = 0.04;  // of the data's span (in decades on a logarithmic axis)

Range chooseRange(const Axis& axis, double dataLo, double dataHi) {
    Range r;
    const bool fixedLo = std::isfinite(axis.min), fixedHi = std::isfinite(axis.max);
    double lo = fixedLo ? axis.min : dataLo, hi = fixedHi ? axis.max : dataHi;
    if (axis.log) {
        if (!(lo > 0) || !std::isfinite(lo)) lo = fixedHi && hi > 0 ? hi / 10 : 1;
        if (!(hi > lo) || !std::isfinite(hi)) hi = lo * 10;
        const double pad = std::pow(10.0, std::max(kMargin * std::log10(hi / lo), 0.02));
        r.lo = fixedLo ? lo : lo / pad;
        r.hi = fixedHi ? hi : hi * pad;
        return r;
    }
    if (!std::isfinite(lo) || !std::isfinite(hi)) lo = 0, hi = 1;
    if (axis.includeZero) lo = std::min(lo, 0.0), hi = std::max(hi, 0.0);
    if (hi - lo <= 0) {
        const double pad = std::max(std::fabs(lo) * 0.1, 1.0);
        lo -= pad;
        hi += pad;
    }
    const double pad = kMargin * (hi - lo);
    r.lo = fixedLo ? lo : lo - pad;
    r.hi = fixedHi ? hi : hi + pad;
    return r;
}

std::vector<Tick> ticks(const Axis& axis, const Range& r) {
    std::vector<Tick> out;
    if (axis.log) {
        const int first = static_cast<int>(std::floor(std::log10(r.lo) + 1e-9));
        const int last = static_cast<int>(std::ceil(std::log10(r.hi) - 1e-9));
        const double decades = std::log10(r.hi / r.lo);
        for (int e = first; e <= last; ++e) {
            const double p = std::pow(10.0, e);
            for (int m = 1; m <= 9; ++m) {
                const double v = m * p;
                if (v < r.lo * 0.9999 || v > r.hi * 1.0001) continue;
                // With few decades on the axis the 2s and 5s carry values too.
                const bool labelled = m == 1 || (decades <= 2.3 && (m == 2 || m == 5)) ||
                                      (decades <= 1.3 && m == 3) || decades <= 0.7;
                out.push_back({v, m == 1, labelled ? formatNumber(v) : ""});
            }
        }
        return out;
    }
    const double step = niceStep(r.hi - r.lo, 6);
    for (double k = std::ceil(r.lo / step - 1e-9); k * step <= r.hi + step * 1e-6; k += 1) {
        const double v = k * step;  // whole multiples: no drift from repeated sums
        out.push_back({v, true, formatNumber(v, 8)});
    }
    return out;
}

// Maps data values to figure coordinates along one axis.
struct Scale {
    bool log = false;
    double lo = 0, hi = 1, from = 0, to = 1;
    double operator()(double v) const {
        const double f = log ? std::log10(std::max(v, 1e-300)) : v;
        const double a = log ? std::log10(lo) : lo, b = log ? std::log10(hi) : hi;
        return from + (f - a) / (b - a) * (to - from);
    }
    bool inside(double v) const {
        return std::isfinite(v) && (!log || v > 0) && v >= std::min(lo, hi) - 1e-12 * std::fabs(hi - lo) &&
               v <= std::max(lo, hi) + 1e-12 * std::fabs(hi - lo);
    }
};

void dataRange(const std::vector<Series>& series, bool log, bool xAxis, double& lo, double& hi) {
    lo = std::numeric_limits<double>::infinity();
    hi = -lo;
    for (const Series& s : series) {
        if (!s.rangeFromData) continue;
        const std::vector<double>& v = xAxis ? s.x : s.y;
        for (double d : v)
            if (std::isfinite(d) && (!log || d > 0)) lo = std::min(lo, d), hi = std::max(hi, d);
    }
}

std::vector<std::string> wrap(const std::string& text, const Font& f, double width) {
    std::vector<std::string> lines;
    std::string line, word;
    auto flushWord = [&] {
        if (word.empty()) return;
        const std::string candidate = line.empty() ? word : line + " " + word;
        if (!line.empty() && textWidth(candidate, f) > width) {
            lines.push_back(line);
            line = word;
        } else {
            line = candidate;
        }
        word.clear();
    };
    for (char c : text) {
        if (c == ' ') {
            flushWord();
        } else if (c == '\n') {
            flushWord();
            lines.push_back(line);
            line.clear();
        } else {
            word += c;
        }
    }
    flushWord();
    if (!line.empty()) lines.push_back(line);
    return lines;
}

constexpr uint32_t kBlack = 0x000000, kGrid = 0xe3e3e3, kWhite = 0xffffff, kLegendEdge = 0xb0b0b0;
constexpr double kPad = 14, kTickLength = 5, kMinorTick = 3, kPanelGap = 12;

struct Layout {
    double captionTop = 0, height = 0;
    std::vector<std::string> caption;
};

Layout measure(const Figure& f) {
    Layout l;
    l.caption = wrap(f.caption, kCaption, f.width - 2 * kPad);
    l.captionTop = f.height;
    l.height = f.height + (l.caption.empty() ? 0 : l.caption.size() * lineHeight(kCaption) + kPad / 2);
    return l;
}

void legend(Canvas& c, const Panel& panel, const QRectF& frame, const std::string& panelId) {
    struct Entry {
        std::string name;
        const Series* series;
        const Mark* mark;
    };
    std::vector<Entry> entries;
    for (const Series& s : panel.series)
        if (!s.name.empty()) entries.push_back({s.name, &s, nullptr});
    for (const Mark& m : panel.marks)
        if (!m.name.empty()) entries.push_back({m.name, nullptr, &m});
    if (entries.empty()) return;
    const double glyph = 26, row = lineHeight(kLegend) + 3, inner = 7;
    double textW = 0;
    for (const Entry& e : entries) textW = std::max(textW, textWidth(e.name, kLegend));
    const double w = inner * 2 + glyph + 6 + textW, h = inner * 2 + row * static_cast<double>(entries.size()) - 3;
    const double inset = 8;
    const bool right = panel.legend == Corner::TopRight || panel.legend == Corner::BottomRight;
    const bool bottom = panel.legend == Corner::BottomLeft || panel.legend == Corner::BottomRight;
    const QRectF box(right ? frame.right() - inset - w : frame.left() + inset,
                     bottom ? frame.bottom() - inset - h : frame.top() + inset, w, h);
    c.group(panelId + "-legend");
    const Pen edge{kLegendEdge, 0.8};
    c.rect(box, &edge, &kWhite, 0.92);
    double y = box.top() + inner + row / 2 - 1.5;
    for (const Entry& e : entries) {
        const double gx = box.left() + inner;
        if (e.series) {
            if (e.series->line)
                c.polyline({QPointF(gx, y), QPointF(gx + glyph, y)}, Pen{e.series->colour, 1.6, e.series->dashed});
            c.marker(QPointF(gx + glyph / 2, y), e.series->marker, e.series->colour);
        } else {
            c.polyline({QPointF(gx, y), QPointF(gx + glyph, y)}, Pen{e.mark->colour, 1.3, true});
        }
        c.text(QPointF(gx + glyph + 6, y + (ascent(kLegend) - descent(kLegend)) / 2), e.name, kLegend,
               Anchor::Start, false, "legend");
        y += row;
    }
    c.group("");
}

void draw(Canvas& c, const Figure& f, const Layout& layout) {
    const double W = f.width;
    // Room for the tallest tick values and the labels.
    double yTickW = 0;
    std::vector<Range> yRanges;
    std::vector<std::vector<Tick>> yTicks;
    for (const Panel& p : f.panels) {
        double lo, hi;
        dataRange(p.series, p.y.log, false, lo, hi);
        yRanges.push_back(chooseRange(p.y, lo, hi));
        yTicks.push_back(ticks(p.y, yRanges.back()));
        for (const Tick& t : yTicks.back()) yTickW = std::max(yTickW, textWidth(t.label, kTick));
    }
    std::vector<Series> all;
    for (const Panel& p : f.panels) all.insert(all.end(), p.series.begin(), p.series.end());
    double xlo, xhi;
    dataRange(all, f.x.log, true, xlo, xhi);
    const Range xRange = chooseRange(f.x, xlo, xhi);
    const std::vector<Tick> xTicks = ticks(f.x, xRange);

    const double left = kPad + lineHeight(kAxisLabel) + 6 + yTickW + kTickLength + 4;
    const double right = W - kPad - 8;
    const double top = kPad + (f.title.empty() ? 0 : lineHeight(kTitle) + 8);
    const double bottom = layout.captionTop - (lineHeight(kTick) + kTickLength + 4 + lineHeight(kAxisLabel) + 6);
    double shares = 0;
    for (const Panel& p : f.panels) shares += std::max(p.height, 0.05);
    const double plotH = bottom - top - kPanelGap * static_cast<double>(f.panels.size() - 1);

    if (!f.title.empty()) {
        c.text(QPointF(W / 2, kPad + ascent(kTitle)), f.title, kTitle, Anchor::Middle, false, "title");
    }
    double panelTop = top;
    const Pen framePen{kBlack, 1};
    for (size_t i = 0; i < f.panels.size(); ++i) {
        const Panel& p = f.panels[i];
        const bool last = i + 1 == f.panels.size();
        const double h = plotH * std::max(p.height, 0.05) / shares;
        const QRectF frame(left, panelTop, right - left, h);
        const Scale sx{f.x.log, xRange.lo, xRange.hi, frame.left(), frame.right()};
        const Scale sy{p.y.log, yRanges[i].lo, yRanges[i].hi, frame.bottom(), frame.top()};
        const std::string panelId = "panel" + std::to_string(i + 1);
        c.group(panelId);

        c.group(panelId + "-grid");
        for (const Tick& t : xTicks)
            if (t.major && sx.inside(t.value))
                c.polyline({QPointF(sx(t.value), frame.top()), QPointF(sx(t.value), frame.bottom())}, Pen{kGrid, 0.8});
        for (const Tick& t : yTicks[i])
            if (t.major && sy.inside(t.value))
                c.polyline({QPointF(frame.left(), sy(t.value)), QPointF(frame.right(), sy(t.value))}, Pen{kGrid, 0.8});
        c.group("");

        c.group(panelId + "-data");
        c.clip(&frame);
        if (p.zeroLine && !p.y.log && sy.inside(0))
            c.polyline({QPointF(frame.left(), sy(0)), QPointF(frame.right(), sy(0))}, Pen{0x808080, 0.9});
        for (const Mark& m : p.marks)
            if (sx.inside(m.x))
                c.polyline({QPointF(sx(m.x), frame.top()), QPointF(sx(m.x), frame.bottom())}, Pen{m.colour, 1.3, true});
        for (const Series& s : p.series) {
            if (!s.line) continue;
            std::vector<QPointF> run;
            for (size_t k = 0; k < std::min(s.x.size(), s.y.size()); ++k) {
                if (!std::isfinite(s.x[k]) || !std::isfinite(s.y[k]) || (f.x.log && s.x[k] <= 0) ||
                    (p.y.log && s.y[k] <= 0)) {
                    c.polyline(run, Pen{s.colour, 1.6, s.dashed});
                    run.clear();
                    continue;
                }
                run.emplace_back(sx(s.x[k]), sy(s.y[k]));
            }
            c.polyline(run, Pen{s.colour, 1.6, s.dashed});
        }
        c.clip(nullptr);
        // Markers are drawn only inside the frame: a point off the scale
        // is left out rather than piled on an edge.
        for (const Series& s : p.series)
            for (size_t k = 0; k < std::min(s.x.size(), s.y.size()); ++k)
                if (sx.inside(s.x[k]) && sy.inside(s.y[k])) c.marker(QPointF(sx(s.x[k]), sy(s.y[k])), s.marker, s.colour);
        c.group("");

        c.rect(frame, &framePen, nullptr, 1);

        c.group(panelId + "-y-axis");
        for (const Tick& t : yTicks[i]) {
            if (!sy.inside(t.value)) continue;
            const double y = sy(t.value), len = t.major ? kTickLength : kMinorTick;
            c.polyline({QPointF(frame.left() - len, y), QPointF(frame.left(), y)}, Pen{kBlack, 0.9});
            if (!t.label.empty())
                c.text(QPointF(frame.left() - kTickLength - 3, y + (ascent(kTick) - descent(kTick)) / 2), t.label, kTick,
                       Anchor::End, false, "tick-label");
        }
        c.text(QPointF(kPad + ascent(kAxisLabel), frame.center().y()), p.y.label, kAxisLabel, Anchor::Middle, true,
               "axis-label y");
        c.group("");

        c.group(panelId + (last ? "-x-axis" : "-x-ticks"));
        for (const Tick& t : xTicks) {
            if (!sx.inside(t.value)) continue;
            const double x = sx(t.value), len = t.major ? kTickLength : kMinorTick;
            c.polyline({QPointF(x, frame.bottom()), QPointF(x, frame.bottom() + len)}, Pen{kBlack, 0.9});
            if (last && !t.label.empty())
                c.text(QPointF(x, frame.bottom() + kTickLength + 2 + ascent(kTick)), t.label, kTick, Anchor::Middle,
                       false, "tick-label");
        }
        if (last)
            c.text(QPointF(frame.center().x(), frame.bottom() + kTickLength + 4 + lineHeight(kTick) + 4 + ascent(kAxisLabel)),
                   f.x.label, kAxisLabel, Anchor::Middle, false, "axis-label x");
        c.group("");

        legend(c, p, frame, panelId);
        c.group("");
        panelTop += h + kPanelGap;
    }

    if (!layout.caption.empty()) {
        c.group("caption");
        double y = layout.captionTop + ascent(kCaption);
        for (const std::string& line : layout.caption) {
            c.text(QPointF(kPad, y), line, kCaption, Anchor::Start, false, "caption");
            y += lineHeight(kCaption);
        }
        c.group("");
    }
}

}  // namespace

std::string formatNumber(double v, int digits) {
    if (!std::isfinite(v)) return "–";
    char s[64];
    if (v != 0 && (std::fabs(v) >= 1e7 || std::fabs(v) < 1e-3)) {
        std::snprintf(s, sizeof s, "%.*g", digits, v);
    } else {
        // Digits before the point; 0 or less for fractions, whose leading
        // zeros are not significant.
        const int whole = v == 0 ? 1 : static_cast<int>(std::floor(std::log10(std::fabs(v)))) + 1;
        std::snprintf(s, sizeof s, "%.*f", std::max(digits - whole, 0), v);
        std::string t = s;
        if (t.find('.') != std::string::npos) {
            while (t.back() == '0') t.pop_back();
            if (t.back() == '.') t.pop_back();
        }
        std::snprintf(s, sizeof s, "%s", t.c_str());
    }
    std::string t = s;
    const bool negative = !t.empty() && t[0] == '-';
    if (negative) t.erase(0, 1);
    if (t.find('e') == std::string::npos) {
        const size_t point = std::min(t.find('.'), t.size());
        if (point > 4)
            for (size_t at = point; at > 3; at -= 3) t.insert(at - 3, "\u2009");
    }
    if (negative && t != "0") t = "\u2212" + t;
    return t;
}

std::string svg(const Figure& figure, bool standalone) {
    const Layout layout = measure(figure);
    SvgCanvas canvas(figure.id);
    draw(canvas, figure, layout);
    std::string s = standalone ? "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" : "";
    s += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" + num(figure.width) + "\" height=\"" +
         num(layout.height) + "\" viewBox=\"0 0 " + num(figure.width) + " " + num(layout.height) +
         "\" font-family=\"" + kFamily + ", Verdana, sans-serif\">\n";
    if (!figure.title.empty()) s += "<title>" + escaped(figure.title) + "</title>\n";
    if (!figure.caption.empty()) s += "<desc>" + escaped(figure.caption) + "</desc>\n";
    s += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    return s + canvas.body + "</svg>\n";
}

bool png(const Figure& figure, const std::string& path, double scale, std::string& error) {
    const Layout layout = measure(figure);
    QImage image(static_cast<int>(std::ceil(figure.width * scale)), static_cast<int>(std::ceil(layout.height * scale)),
                 QImage::Format_RGB32);
    if (image.isNull()) {
        error = "no memory for a " + path + " of that size";
        return false;
    }
    image.fill(Qt::white);
    // The figure's units are CSS pixels (96 per inch).
    const int dotsPerMetre = static_cast<int>(std::lround(scale * 96 / 0.0254));
    image.setDotsPerMeterX(dotsPerMetre);
    image.setDotsPerMeterY(dotsPerMetre);
    {
        QPainter painter(&image);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
        painter.scale(scale, scale);
        PainterCanvas canvas(painter);
        draw(canvas, figure, layout);
    }
    if (!image.save(QString::fromStdString(path), "PNG")) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace chart
