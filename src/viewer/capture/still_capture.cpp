// Stills.
#include "viewer/capture/still_capture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <cstring>
#include <utility>
#include <vector>

#include "ezcam.h"
#include "viewer/captions.h"
#include "viewer/capture/capture_folder.h"
#include "viewer/live/live_controller.h"
#include "viewer/picture/live_view.h"
#include "viewer/picture/picture_tools.h"
#include "viewer/picture/scale_bar.h"
#include "viewer/session/selected_camera.h"
#include "viewer/session/status_line.h"
#include "viewer/widgets/control_rows.h"

namespace viewer {

namespace {

// The format boxes with their bit in the camera's format mask.
constexpr struct {
    const char* caption;
    const char* name;
    int bit;
} kFormats[] = {{"RAW", "chkRaw", 1},
                {"TIFF", "chkTif", 2},
                {"PNG", "chkPng", 4},
                {"JPEG", "chkJpg", 8},
                {"BMP", "chkBmp", 16}};

}  // namespace

StillCapture::StillCapture(const SelectedCamera& selected, StatusLine& statusLine,
                           const CaptureFolder& captureFolder, const LiveController& liveView,
                           PictureTools& pictureTools, QObject* parent)
    : QObject(parent),
      camera(selected),
      status(statusLine),
      folder(captureFolder),
      live(liveView),
      picture(pictureTools),
      pouSav(new QComboBox),
      btnSnap(new QPushButton(L("Capture"))) {
    for (size_t i = 0; i < formats.size(); ++i) {
        QCheckBox* box = formats[i] = new QCheckBox(QString::fromLatin1(kFormats[i].caption));
        box->setObjectName(QString::fromLatin1(kFormats[i].name));
        connect(box, &QCheckBox::clicked, this,
                [this, box, bit = kFormats[i].bit] { setFormatBit(bit, box->isChecked()); });
    }
    // Shows the size of the stills, which is the live resolution's: not a
    // choice of its own.
    pouSav->setEnabled(false);
    pouSav->setToolTip(L("Stills are taken at the resolution chosen above"));
    btnSnap->setToolTip(L("Take a still in the chosen formats (C)"));
    nameControls({{pouSav, "pouSav"}, {btnSnap, "btnSnap"}});
    connect(btnSnap, &QPushButton::clicked, this, &StillCapture::take);
    connect(picture.view(), &LiveView::frameShown, this, [this] {
        if (stillWithBar.isEmpty()) return;
        const QString base = std::exchange(stillWithBar, QString());
        if (const auto frame = picture.view()->frame()) writeWithBar(*frame, base);
    });
}

const char* StillCapture::cam() const {
    return camera.c_str();
}

void StillCapture::load() {
    pouSav->clear();
    for (int i = 0, n = GetResolutionCount(cam()); i < n; ++i) {
        const char* label = GetResItemName(i, cam());
        pouSav->addItem(QString::fromUtf8(label ? label : ""));
    }
    showResolution(GetResolution(cam()));
    GetImageFormat(&snapType, cam());
    for (size_t i = 0; i < formats.size(); ++i)
        setCheckedQuietly(formats[i], snapType & kFormats[i].bit);
}

void StillCapture::showResolution(int shown) {
    resolution = shown;
    pouSav->setCurrentIndex(shown);
}

void StillCapture::setCameraOpen(bool on) {
    for (QCheckBox* box : formats) box->setEnabled(on);
    btnSnap->setEnabled(on);
}

void StillCapture::setFormatBit(int bit, bool on) {
    if (camera.none()) return;
    snapType = on ? snapType | bit : snapType & ~bit;
    SetImageFormat(snapType, cam());
}

void StillCapture::take() {
    if (camera.none()) return;
    const QString base = folder.baseNameNow();
    if (picture.barOnStills()) {
        // Written here from the next frame shown, with the bar burned in.
        stillWithBar = base;
        status.note(live.running() ? L("Still: %1").arg(base)
                                   : L("Still waits for the live view: %1").arg(base));
        emit stillRequested(base, 0);
        return;
    }
    const int r = SaveImage(base.toUtf8().constData(), resolution, cam());
    if (r != EZ_OK)
        status.note(L("Still refused (%1)").arg(r));
    else if (live.running())
        status.note(L("Still: %1").arg(base));
    else  // the camera takes it from the next live frame
        status.note(L("Still waits for the live view: %1").arg(base));
    emit stillRequested(base, r);
}

void StillCapture::writeWithBar(const ShownFrame& frame, const QString& base) {
    if (camera.none() || !frame.raw) {
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
            const auto bar = picture.stillBar(QSize(finished.width, finished.height));
            made = bar && burnScaleBar(image.data(), image.size(), *bar);
        }
        failed += !made || SaveFile(image.data(), path.constData(), snapType & ~1, cam()) != EZ_OK;
    }
    status.note(failed ? L("Still failed: %1").arg(base) : L("Still with scale bar: %1").arg(base));
}

}  // namespace viewer
