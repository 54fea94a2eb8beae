// Scientific line and scatter charts for reports: one or more panels stacked
// over a shared horizontal axis, linear or logarithmic axes with ticks, tick
// values and labels, a legend, a title and a caption. The layout is measured
// with Qt's font metrics and drawn either as SVG text or with QPainter into
// a PNG, so both files show the same figure.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace chart {

struct Axis {
    std::string label;  // with its unit, e.g. "Exposure time (ms)"
    bool log = false;
    // The range; left at NaN it is chosen from the data (and `includeZero`
    // on a linear axis).
    double min = std::numeric_limits<double>::quiet_NaN();
    double max = std::numeric_limits<double>::quiet_NaN();
    bool includeZero = false;
};

enum class Marker { None, Disc, Ring, Square, Cross };

struct Series {
    std::string name;  // legend entry; empty: not in the legend
    std::vector<double> x, y;
    uint32_t colour = 0x0072b2;  // RGB
    Marker marker = Marker::Disc;
    bool line = false;           // joins the points
    bool dashed = false;
    bool rangeFromData = true;   // false: a fit or model that must not widen the axes
};

// A vertical line across the panel at x, in the legend as `name`.
struct Mark {
    std::string name;
    double x = 0;
    uint32_t colour = 0x555555;
};

enum class Corner { TopLeft, TopRight, BottomRight, BottomLeft };

struct Panel {
    Axis y;
    std::vector<Series> series;
    std::vector<Mark> marks;
    bool zeroLine = false;  // a thin horizontal line at y = 0
    Corner legend = Corner::TopLeft;
    double height = 1;      // share of the figure's plotting height
};

struct Figure {
    std::string id = "figure";  // prefixes the SVG's element ids: figures in one page stay apart
    std::string title;
    std::string caption;  // wrapped below the panels
    Axis x;               // shared by the panels, labelled under the last one
    std::vector<Panel> panels;
    double width = 680, height = 500;  // SVG user units (CSS pixels)
};

// A standalone SVG document (an XML declaration first when `standalone`;
// without it the <svg> element is fit to sit inside HTML).
std::string svg(const Figure& figure, bool standalone = true);
// A PNG at `scale` device pixels per SVG unit. Needs a QGuiApplication.
bool png(const Figure& figure, const std::string& path, double scale, std::string& error);

// Numbers as the charts print them: at most `digits` significant digits,
// thin-space groups of three above 9999, a true minus sign.
std::string formatNumber(double v, int digits = 4);

}  // namespace chart
