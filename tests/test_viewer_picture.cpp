// The picture's parts on synthetic frames: zoom and pan, the map from
// finished pixels to raw samples (against the pipeline's own geometry), the
// clipping overlay, the pixel readout, typed exposures and the logarithmic
// slider, scale bars and binning, the focus figure.
#include "viewer_fixture.h"  // first: see there
// (the order above matters)
#include <QImage>
#include <QLabel>
#include <QTableWidget>
#include <cmath>
#include <tuple>

#include "processing/geometry.h"
#include "processing/image_record.h"
#include "viewer/picture/focus_measure.h"
#include "viewer/picture/live_view.h"
#include "viewer/picture/objectives_dialog.h"
#include "viewer/picture/pixel_readout.h"
#include "viewer/picture/scale_bar.h"
#include "viewer/picture/shown_frame.h"
#include "viewer/picture/view_render.h"
#include "viewer/settings/exposure_scale.h"

using namespace viewer;
using viewertest::waitUntil;

namespace {

// An image record of w x h x channels samples of `depth` bits, pixels at 512;
// `value(x, y, c)` gives each sample.
template <typename F>
std::vector<unsigned char> record(int w, int h, int channels, int depth, F value) {
    std::vector<unsigned char> buffer(512 + size_t(w) * h * channels * depth / 8 + 8192);
    auto* image = reinterpret_cast<_ezImage*>(buffer.data());
    ezInitImageHeader(image, w, h, channels, depth, 512, buffer.data() + 512, 0, 1);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < channels; ++c) {
                const size_t i = (size_t(y) * w + x) * channels + c;
                const int v = value(x, y, c);
                if (depth == 8) {
                    buffer[512 + i] = uint8_t(v);
                } else {
                    buffer[512 + 2 * i] = uint8_t(v);
                    buffer[512 + 2 * i + 1] = uint8_t(v >> 8);
                }
            }
    return buffer;
}

int sample16(const std::vector<unsigned char>& r, int x, int y) {
    const auto* image = reinterpret_cast<const _ezImage*>(r.data());
    const size_t i = size_t(y) * image->width + x;
    return r[512 + 2 * i] | r[512 + 2 * i + 1] << 8;
}

DisplayFrame frameOf(const std::vector<unsigned char>& finished,
                     const std::vector<unsigned char>* raw = nullptr) {
    auto frame = *displayPixels(finished.data(), finished.size());
    if (raw) frame.raw = raw->data(), frame.rawCapacity = raw->size();
    return frame;
}

QRgb rgb(const QImage& picture, QPoint p) {
    return picture.pixel(p) | 0xff000000u;
}

}  // namespace

TEST(Zoom, ViewCornersAndCentreMapToTheImageAtEveryZoom) {
    const QSize view(400, 300), image(1000, 700);
    const QPointF viewCentre(200, 150), imageCentre(500, 350);
    for (const double scale : {0.0, 1.0, 2.0, 4.0}) {  // 0: fitted
        Zoom zoom;
        if (scale > 0) zoom.zoomTo(scale, view, image);
        const ViewTransform t = zoom.transform(view, image);
        const double s = scale > 0 ? scale : 0.4;
        EXPECT_DOUBLE_EQ(t.scale, s);
        for (const QPointF p :
             {QPointF(0, 0), QPointF(400, 0), QPointF(0, 300), QPointF(400, 300), viewCentre}) {
            const QPointF expected = imageCentre + (p - viewCentre) / s;
            EXPECT_NEAR(t.toImage(p).x(), expected.x(), 1e-9) << s;
            EXPECT_NEAR(t.toImage(p).y(), expected.y(), 1e-9) << s;
            EXPECT_NEAR(t.toView(t.toImage(p)).x(), p.x(), 1e-9);
        }
    }
    // Dragging moves the picture with the pointer, never past its edges.
    Zoom zoom;
    zoom.zoomTo(2, view, image);
    zoom.panBy({100, -40}, view, image);
    EXPECT_NEAR(zoom.transform(view, image).toImage(viewCentre).x(), 450, 1e-9);
    EXPECT_NEAR(zoom.transform(view, image).toImage(viewCentre).y(), 370, 1e-9);
    zoom.panBy({5000, 5000}, view, image);
    EXPECT_NEAR(zoom.transform(view, image).toImage({0, 0}).x(), 0, 1e-9);
    EXPECT_NEAR(zoom.transform(view, image).toImage({0, 0}).y(), 0, 1e-9);
    // The wheel zooms about the cursor: its image point stays under it.
    const QPointF cursor(310, 60);
    const QPointF under = zoom.transform(view, image).toImage(cursor);
    zoom.zoomTo(4, view, image, &cursor);
    EXPECT_NEAR(zoom.transform(view, image).toImage(cursor).x(), under.x(), 1e-9);
    EXPECT_NEAR(zoom.transform(view, image).toImage(cursor).y(), under.y(), 1e-9);
    zoom.zoomTo(0.1, view, image);  // below the fitted scale: fitted
    EXPECT_TRUE(zoom.fitting());
}

// What the live picture draws at each zoom: the picture's pixel under each
// view pixel (below 1:1 the mean of the box around it).
TEST(LivePicture, DrawsThePixelUnderEachViewPixelAtEveryZoom) {
    viewertest::application();
    const auto finished = record(1000, 700, 3, 8, [](int x, int y, int c) {
        return c == 0 ? x & 255 : c == 1 ? y & 255 : (x * 3 + y) & 255;
    });
    LiveView view;
    view.resize(400, 300);
    view.present(frameOf(finished));
    ASSERT_TRUE(waitUntil([&] { return view.framesDrawn() == 1; }));
    const QImage& picture = view.image();
    for (const double scale : {0.0, 1.0, 2.0, 4.0}) {
        if (scale > 0)
            view.zoomTo(scale);
        else
            view.fitToView();
        const ViewTransform t = view.transform();
        const RenderedView& drawn = view.rendered();
        EXPECT_EQ(drawn.placed, scale > 0 ? QRect(0, 0, 400, 300) : QRect(0, 10, 400, 280));
        for (const QPoint p :
             {drawn.placed.topLeft(), drawn.placed.topRight(), drawn.placed.bottomLeft(),
              drawn.placed.bottomRight(), drawn.placed.center()}) {
            const QPoint at = t.pixelAt(p);
            QRgb expected = rgb(picture, at);
            if (scale == 0) {  // at 0.4: the mean of the 3 x 3 pixels around `at`
                int sum[3] = {};
                const int left = std::clamp(at.x() - 1, 0, 997),
                          top = std::clamp(at.y() - 1, 0, 697);
                for (int y = top; y < top + 3; ++y)
                    for (int x = left; x < left + 3; ++x) {
                        const QRgb c = rgb(picture, {x, y});
                        sum[0] += qRed(c), sum[1] += qGreen(c), sum[2] += qBlue(c);
                    }
                expected = qRgb((sum[0] + 4) / 9, (sum[1] + 4) / 9, (sum[2] + 4) / 9);
            }
            EXPECT_EQ(drawn.image.pixel(p - drawn.placed.topLeft()), expected)
                << "scale " << scale << " at " << p.x() << "," << p.y();
        }
    }
}

// Finished pixels map onto the raw samples the pipeline made them from, and
// the overlay marks exactly the pixels whose raw sample is clipped: checked
// against the pipeline's own cut, turns and flips, at both depths.
TEST(ClippingOverlay, MarksExactlyTheClippedRawSamplesWhateverTheGeometry) {
    viewertest::application();
    constexpr int W = 40, H = 30;
    // Raw samples: their own position as an id, and a clipped copy of them.
    const auto ids = record(W, H, 1, 16, [](int x, int y, int) { return x + y * W; });
    const auto clippedAt = [](int x, int y) {
        return (x >= 10 && x < 19 && y >= 6 && y < 13) || (x == 30 && y == 20) ||
               (x == 4 && y == 4);
    };
    for (const int depth : {8, 16}) {
        const int top = rawClipLevel(depth);
        const auto raw = record(W, H, 1, depth, [&](int x, int y, int) {
            if (clippedAt(x, y)) return depth == 8 ? 255 : 0xfff0;
            return x == 20 && y == 20 ? top - 1 : (x * 5 + y) % 200;  // one just below the top
        });
        for (const int rotate : {0, 1, 2})
            for (const int flip : {0, 1, 2, 3}) {
                // The pipeline's geometry on the ids: the oracle.
                auto oracle = ids;
                auto* image = reinterpret_cast<_ezImage*>(oracle.data());
                image->data = oracle.data() + 512;  // the copy's own pixels
                __roi(image, 4, 4, W - 8, H - 8);
                __rotate(image, rotate);
                __flip(image, flip);
                const QSize size(image->width, image->height);
                const auto finished =
                    record(size.width(), size.height(), 1, 8, [](int, int, int) { return 100; });
                FrameKeeper keeper;
                const auto shown = keeper.keep(frameOf(finished, &raw), {rotate, flip, 0});
                ASSERT_TRUE(shown && shown->map) << rotate << flip;
                ViewRenderer renderer;
                Zoom fitted;  // the view is the picture's size: 1:1
                const RenderedView drawn =
                    renderer.render(*shown, fitted.transform(size, size), size, true);
                ASSERT_EQ(drawn.placed, QRect(QPoint(), size));
                int marked = 0;
                for (int y = 0; y < size.height(); ++y)
                    for (int x = 0; x < size.width(); ++x) {
                        const int id = sample16(oracle, x, y);
                        const QPoint rawAt(id % W, id / W);
                        ASSERT_EQ(shown->map->rawOf({x, y}), rawAt) << rotate << flip;
                        const bool isMarked = drawn.image.pixel(x, y) == kClippedColour;
                        EXPECT_EQ(isMarked, clippedAt(rawAt.x(), rawAt.y()))
                            << depth << "-bit, rotate " << rotate << ", flip " << flip << " at "
                            << x << "," << y;
                        marked += isMarked;
                    }
                EXPECT_EQ(marked, 9 * 7 + 2);  // the region and the pixel inside the cut
                // Without the overlay nothing is marked.
                const RenderedView plain =
                    renderer.render(*shown, fitted.transform(size, size), size, false);
                EXPECT_EQ(plain.image.pixel(10 - 4, 10 - 4) & 0xffffff, 0x646464u);
            }
    }
}

TEST(PixelReadout, RawTileAndFinishedValueUnderThePixel) {
    viewertest::application();
    // A 16 x 12 raw frame of Bayer code 1, whose filters are B G / G R: each
    // sample tells its place.
    const auto raw = record(16, 12, 1, 16, [](int x, int y, int) { return 1000 + 10 * y + x; });
    const auto finished =
        record(8, 4, 3, 16, [](int x, int y, int c) { return 256 * (10 * x + y) + c; });
    FrameKeeper keeper;
    const auto shown = keeper.keep(frameOf(finished, &raw), {0, 0, 1});
    ASSERT_TRUE(shown);
    const auto at = readoutAt(*shown, {3, 2});  // raw sample (7, 6): green on a blue row
    ASSERT_TRUE(at);
    EXPECT_EQ(at->rawAt, QPoint(7, 6));
    EXPECT_EQ(readoutText(*at),
              "x 3  y 2 · raw B 1066 [G 1067] G 1076 R 1077 · RGB 8192 8193 8194");
    EXPECT_FALSE(readoutAt(*shown, {8, 0}));
    EXPECT_FALSE(readoutAt(*shown, {-1, 0}));

    // A monochrome 8-bit frame, flipped: one raw sample, the grey value.
    const auto grey = record(16, 12, 1, 8, [](int x, int y, int) { return x + 16 * y; });
    const auto shownGrey = record(8, 4, 1, 8, [](int x, int, int) { return 200 + x; });
    const auto mono = keeper.keep(frameOf(shownGrey, &grey), {0, 1, 0});
    EXPECT_EQ(readoutText(*readoutAt(*mono, {0, 0})), "x 0  y 0 · raw 75 · grey 200");
    // A raw frame the finished image cannot come from gives no raw values.
    const auto odd = record(13, 12, 1, 8, [](int, int, int) { return 0; });
    const auto without = keeper.keep(frameOf(shownGrey, &odd), {});
    EXPECT_EQ(readoutText(*readoutAt(*without, {1, 1})), "x 1  y 1 · grey 201");
}

TEST(Exposure, TypedTimesAndTheLogarithmicSlider) {
    const struct {
        const char* text;
        std::optional<double> ms;
    } typed[] = {
        {"250", 250},    {"250 ms", 250},   {"1.5 s", 1500}, {"1,5s", 1500},  {" 0.2ms ", 0.2},
        {"800 us", 0.8}, {"2 min", 120000}, {".5", 0.5},     {"", {}},        {"abc", {}},
        {"-3", {}},      {"5 h", {}},       {"1e3", {}},     {"1.5 s s", {}},
    };
    for (const auto& [text, ms] : typed) {
        const auto got = parseExposure(QString::fromUtf8(text));
        ASSERT_EQ(got.has_value(), ms.has_value()) << text;
        EXPECT_DOUBLE_EQ(got.value_or(0), ms.value_or(0)) << text;
    }

    const ExposureRange range{0.1f, 1500.0f, 0.1f};
    EXPECT_EQ(exposureSliderPosition(range, 0.1), 0);
    EXPECT_EQ(exposureSliderPosition(range, 1500), kExposureSliderSteps);
    EXPECT_FLOAT_EQ(exposureAtSlider(range, 0), 0.1f);
    EXPECT_FLOAT_EQ(exposureAtSlider(range, kExposureSliderSteps), 1500.0f);
    // Everything below 100 ms no longer hides in the first pixels.
    EXPECT_GT(exposureSliderPosition(range, 100), kExposureSliderSteps * 6 / 10);
    float previous = 0;
    for (int p = 0; p <= kExposureSliderSteps; p += 7) {
        const float ms = exposureAtSlider(range, p);
        EXPECT_GE(ms, previous);
        EXPECT_NEAR(std::remainder(ms - 0.1, 0.1), 0, 1e-3) << "on the camera's steps";
        previous = ms;
    }
    // An exposure shown on the slider comes back from it within a position's
    // width (under 1 %) or half a step.
    for (const double ms : {0.1, 0.2, 0.5, 1.0, 3.3, 10.0, 47.5, 100.0, 250.0, 999.0, 1500.0})
        EXPECT_NEAR(exposureAtSlider(range, exposureSliderPosition(range, ms)), ms,
                    0.005 * ms + 0.05 + 1e-4)
            << ms;
    EXPECT_EQ(durationText(250), "250 ms");
    EXPECT_EQ(durationText(1500), "1.5 s");
}

TEST(ScaleBar, LengthFollowsCalibrationAndBinning) {
    viewertest::application();
    const struct {
        QString label;
        int width, full, binning;
    } modes[] = {
        {"2584X1936", 2584, 2584, 1},        {"1272X952 Bin", 1272, 2584, 2},
        {"632X472", 632, 2584, 4},           {"1016X760 2x2 Bin", 1016, 2040, 2},
        {"676*540   Bin 4X4", 676, 2728, 4}, {"1272X792 ROI", 1272, 1272, 1},
        {"1620*1072", 1620, 2728, 1},        {"660X504 Bin", 660, 1272, 2},
    };
    for (const auto& m : modes)
        EXPECT_EQ(binningOf(m.label, m.width, m.full), m.binning) << m.label.toStdString();

    const struct {
        double micronsPerPixel, longest, micrometres, pixels;
        const char* text;
    } bars[] = {
        {0.5, 300, 100, 200, "100 µm"},  // 0.25 µm at binning 2
        {2.0, 126.4, 200, 100, "200 µm"},
        {0.05, 1000, 50, 1000, "50 µm"},
        {10, 500, 5000, 500, "5 mm"},
    };
    for (const auto& b : bars) {
        const ScaleBar bar = chooseScaleBar(b.micronsPerPixel, b.longest);
        EXPECT_DOUBLE_EQ(bar.micrometres, b.micrometres);
        EXPECT_DOUBLE_EQ(bar.pixels, b.pixels);
        EXPECT_EQ(bar.text, QString::fromUtf8(b.text));
    }
    EXPECT_FALSE(chooseScaleBar(0, 100).valid());
    EXPECT_FALSE(chooseScaleBar(1, 0.5).valid());

    // Burned into a finished image at either depth: a white bar of exactly
    // its length in a black outline.
    for (const auto& [channels, depth] : {std::pair(3, 8), std::pair(1, 16)}) {
        auto image = record(300, 200, channels, depth, [](int, int, int) { return 0x4040; });
        const ScaleBar bar = chooseScaleBar(1.0, 60);  // 50 µm, 50 pixels
        ASSERT_TRUE(burnScaleBar(image.data(), image.size(), bar));
        const QRect r = scaleBarRect({300, 200}, bar);
        ASSERT_EQ(r.width(), 50);
        const int full = depth == 8 ? 255 : 65535;
        const auto at = [&](int x, int y) {
            const size_t i = (size_t(y) * 300 + x) * channels;
            return depth == 8 ? image[512 + i] : image[512 + 2 * i] | image[512 + 2 * i + 1] << 8;
        };
        const int y = r.center().y();
        for (int x = r.left(); x <= r.right(); ++x) EXPECT_EQ(at(x, y), full) << x;
        EXPECT_EQ(at(r.left() - 1, y), 0);
        EXPECT_EQ(at(r.right() + 1, y), 0);
        EXPECT_EQ(at(10, 10), depth == 8 ? 0x40 : 0x4040);  // the rest untouched
    }
}

TEST(ScaleBar, TheObjectivesDialogTakesOnlyNamedPositiveCalibrations) {
    viewertest::application();
    ObjectivesDialog dialog({{"10x", 0.65}, {"40x", 0.1625}});
    QTableWidget& rows = *dialog.table();
    ASSERT_EQ(rows.rowCount(), 2);
    rows.item(1, 1)->setText("fast");
    dialog.accept();
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(dialog.message()->text().startsWith("Row 2 needs"))
        << dialog.message()->text().toStdString();
    rows.item(1, 1)->setText("0,1625");  // a decimal comma is read too
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.objectives(), (QList<Objective>{{"10x", 0.65}, {"40x", 0.1625}}));
}

TEST(Focus, FigureRisesWithSharpnessAndIgnoresTheExposure) {
    const auto picture = [](double blur, double gain) {
        QImage image(400, 300, QImage::Format_Grayscale8);
        for (int y = 0; y < 300; ++y)
            for (int x = 0; x < 400; ++x) {
                const double k = std::exp(-blur * blur);  // a blurred cosine keeps this much
                const double v = 100 + 40 * k * std::cos(x * 1.3) * std::cos(y * 0.9);
                image.scanLine(y)[x] = uchar(std::lround(v * gain));
            }
        return image;
    };
    FocusMeter meter;
    const double sharp = meter.measure(picture(0, 1)), soft = meter.measure(picture(1, 1)),
                 blurred = meter.measure(picture(2, 1));
    EXPECT_GT(sharp, soft);
    EXPECT_GT(soft, blurred);
    EXPECT_NEAR(meter.measure(picture(0, 0.5)) / sharp, 1, 0.05);  // half the light
    FocusRecord record;
    for (const double f : {soft, sharp, blurred}) record.add(f);
    EXPECT_DOUBLE_EQ(record.bestSoFar(), sharp);
}
