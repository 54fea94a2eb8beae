// The scale bar: objectives and their calibration, the binning of a
// resolution, the choice of a bar's length, and drawing it on the live
// picture or into a still.
#pragma once

#include <QList>
#include <QRect>
#include <QString>
#include <cstddef>

class QPainter;

namespace viewer {

// An objective and the micrometres one sensor pixel covers through it, at
// binning 1.
struct Objective {
    QString name;
    double micronsPerPixel = 0;
    bool operator==(const Objective&) const = default;
};

// How many sensor pixels a resolution's pixel spans along a row: the
// factor its label names ("2x2 Bin"), 1 for a window ("ROI"), otherwise the
// whole-number ratio of the largest resolution's width to this one's (modes
// that skip or bin without saying so); 1 when the ratio is not near a whole
// number (a window of the sensor).
int binningOf(const QString& label, int width, int fullWidth);

struct ScaleBar {
    double micrometres = 0;
    double pixels = 0;  // its length where it is drawn
    QString text;       // "50 µm", "1 mm"
    bool valid() const { return pixels >= 1; }
};

// The longest bar of 1, 2 or 5 times a power of ten micrometres that is at
// most `longest` pixels long at `micronsPerPixel`; invalid when none is.
ScaleBar chooseScaleBar(double micronsPerPixel, double longest);

// The bar's white rectangle in an image or view of `size` (bottom right,
// inside a margin); its black outline and the text lie around it.
QRect scaleBarRect(QSize size, const ScaleBar& bar);

// Draws the bar and its text for an area of `size`.
void paintScaleBar(QPainter& painter, QSize size, const ScaleBar& bar);

// Draws the bar into the finished image record at the start of `image`
// (`capacity` bytes): white and black at full scale, whatever the depth and
// channel count. False when the record is not such an image.
bool burnScaleBar(unsigned char* image, size_t capacity, const ScaleBar& bar);

}  // namespace viewer
