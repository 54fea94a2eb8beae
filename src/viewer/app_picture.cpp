// The controller's actions around the picture: the keys, a typed exposure
// and a long exposure's progress, a region of interest dragged on the
// picture, stills with the scale bar, and what the picture's tools need to
// know of the camera.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "ezcam.h"
#include "viewer/app_delegate.h"
#include "viewer/captions.h"
#include "viewer/picture/live_view.h"
#include "viewer/picture/picture_tools.h"
#include "viewer/picture/scale_bar.h"
#include "viewer/viewer_window.h"

namespace viewer {

void AppDelegate::connectPictureActions() {
    connect(tools.view(), &LiveView::regionDrawn, &region, &RegionOfInterest::regionDrawn);
    connect(&tools, &PictureTools::wholeFrameAsked, &region, &RegionOfInterest::wholeFrame);
    connect(&tools, &PictureTools::objectiveChosen, this, [this](const QString& name) {
        if (const auto loaded = loadedModels.find(selected.name()); loaded != loadedModels.end())
            memory.setObjective(loaded->second, name);
    });
    connect(tools.view(), &LiveView::frameShown, this, [this] {
        if (stillWithBar.isEmpty()) return;
        const QString base = std::exchange(stillWithBar, QString());
        if (const auto frame = tools.view()->frame()) writeStillWithBar(*frame, base);
    });
}

// ---- What the picture's tools need of the camera -------------------------------------

int AppDelegate::binningInForce() const {
    if (selected.none()) return 1;
    const int r = GetResolution(cam());
    const char* label = GetResItemName(r, cam());
    return binningOf(QString::fromUtf8(label ? label : ""), GetResWidth(r, cam()),
                     GetResWidth(0, cam()));
}

void AppDelegate::pictureToolsFollowCamera() {
    tools.setBinning(binningInForce());
    tools.resetFocus();
}

// ---- Stills with the scale bar ----------------------------------------------------------

void AppDelegate::writeStillWithBar(const ShownFrame& frame, const QString& base) {
    if (selected.none() || !frame.raw) {
        status.note(L("Still failed: no raw frame"));
        return;
    }
    // The raw frame as the camera's reader delivers it: its record, then the
    // samples after the header area.
    const SampleGrid& samples = *frame.raw;
    const size_t head = size_t(DataHeadLen(cam())), size = size_t(RecvMemSize(cam()));
    if (head < sizeof(_ezImage) || head + samples.bytes.size() > size) {
        status.note(L("Still failed: the frame does not fit the camera's buffer"));
        return;
    }
    std::vector<unsigned char> raw(size), image(3 * size);
    _ezImage record{};
    std::memcpy(record.signature, "KVEZ", 4);
    record.width = uint16_t(samples.width);
    record.height = uint16_t(samples.height);
    record.depth = uint8_t(samples.depth);
    record.channels = 1;
    record.bayer = uint8_t(samples.bayer);
    record.resolution = uint8_t(GetResolution(cam()));
    record.header_size = uint16_t(head);
    record.stride = uint16_t(samples.width * samples.depth / 8);
    std::memcpy(raw.data(), &record, sizeof record);
    std::memcpy(raw.data() + head, samples.bytes.data(), samples.bytes.size());

    const QByteArray path = base.toUtf8();
    int failed = 0;
    if (snapType & 1) failed += SaveFile(raw.data(), path.constData(), 1, cam()) != EZ_OK;
    if (snapType & ~1) {
        _ezImage finished;
        bool made = DecodeRaw2Image(raw.data(), image.data(), cam()) == EZ_OK;
        if (made) {
            std::memcpy(&finished, image.data(), sizeof finished);
            const auto bar = tools.stillBar(QSize(finished.width, finished.height));
            made = bar && burnScaleBar(image.data(), image.size(), *bar);
        }
        failed += !made || SaveFile(image.data(), path.constData(), snapType & ~1, cam()) != EZ_OK;
    }
    status.note(failed ? L("Still failed: %1").arg(base) : L("Still with scale bar: %1").arg(base));
}

}  // namespace viewer
