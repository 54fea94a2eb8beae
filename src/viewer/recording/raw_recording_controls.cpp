// The raw recording's controls.
#include "viewer/recording/raw_recording_controls.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <algorithm>
#include <initializer_list>

#include "ezcam.h"
#include "recording/writers.h"
#include "viewer/calibration/calibration_dialog.h"
#include "viewer/captions.h"
#include "viewer/capture/capture_folder.h"
#include "viewer/live/live_controller.h"
#include "viewer/picture/picture_tools.h"
#include "viewer/session/selected_camera.h"
#include "viewer/session/status_line.h"
#include "viewer/widgets/control_rows.h"

namespace viewer {

namespace {

// `base` with `extension`, or with "_2", "_3"... before it while files of
// that name exist (a recording of one file per frame adds its frame numbers).
QString freshRecordingPath(const QString& base, const QString& extension) {
    const QFileInfo place(base);
    for (int n = 1;; ++n) {
        const QString name = place.fileName() + (n > 1 ? QStringLiteral("_%1").arg(n) : QString());
        if (place.dir()
                .entryList({name + extension, name + QStringLiteral("_*") + extension}, QDir::Files)
                .isEmpty())
            return place.dir().filePath(name + extension);
    }
}

}  // namespace

RawRecordingControls::RawRecordingControls(const SelectedCamera& selected, StatusLine& statusLine,
                                           const CaptureFolder& captureFolder,
                                           LiveController& liveView,
                                           const PictureTools& pictureTools, QObject* parent)
    : QObject(parent),
      camera(selected),
      status(statusLine),
      folder(captureFolder),
      live(liveView),
      picture(pictureTools),
      pouRawFormat(new QComboBox),
      spnRawLength(new QSpinBox),
      pouRawUnit(new QComboBox),
      btnRaw(new QPushButton(L("Record Raw"))),
      txtRaw(new QLabel) {
    for (const recording::FormatRow& row : recording::formats()) {
        pouRawFormat->addItem(QString::fromUtf8(row.name), QString::fromUtf8(row.name));
        pouRawFormat->setItemData(pouRawFormat->count() - 1, QString::fromUtf8(row.help),
                                  Qt::ToolTipRole);
    }
    spnRawLength->setRange(1, 10'000'000);
    spnRawLength->setValue(100);
    pouRawUnit->addItems({L("frames"), L("seconds")});
    btnRaw->setToolTip(
        L("Start or stop recording the raw frames, losslessly, with each "
          "frame's time and settings"));
    nameControls({{pouRawFormat, "pouRawFormat"},
                  {spnRawLength, "spnRawLength"},
                  {pouRawUnit, "pouRawUnit"},
                  {btnRaw, "btnRaw"},
                  {txtRaw, "txtRaw"}});
    connect(btnRaw, &QPushButton::clicked, this, &RawRecordingControls::toggle);
    connect(&raw, &RawRecording::progressed, this,
            [this] { txtRaw->setText(rawCountsText(raw.counts())); });
    connect(&raw, &RawRecording::ended, this, &RawRecordingControls::ended);
}

void RawRecordingControls::showState() {
    const bool recording = raw.recording();
    btnRaw->setText(recording ? L("Stop Raw") : L("Record Raw"));
    // A recording can always be stopped; a new one waits for the last file.
    btnRaw->setEnabled(recording || (!camera.none() && !raw.finishing()));
    for (QWidget* choice : std::initializer_list<QWidget*>{pouRawFormat, spnRawLength, pouRawUnit})
        choice->setEnabled(!recording);
}

void RawRecordingControls::ended(const QString& summary) {
    txtRaw->setText(rawCountsText(raw.counts()));
    showState();
    status.note(summary, 0);  // it names the file: it stays until the next message
}

void RawRecordingControls::toggle() {
    if (raw.recording()) {
        raw.stop();  // ended() reports the file
        showState();
        return;
    }
    if (camera.none() || raw.finishing()) return;
    const recording::FormatRow* format =
        recording::findFormat(pouRawFormat->currentData().toString().toStdString());
    if (!format) return;
    // The frames come from live view's grab thread.
    if (!live.running()) live.toggle();
    if (!live.running()) {
        status.note(L("Raw recording not started: no live view"));
        return;
    }
    const char* cam = camera.c_str();
    const QString path =
        freshRecordingPath(folder.baseNameNow(), QString::fromUtf8(format->extension));
    recording::RecorderSetup setup;
    setup.path = path.toStdString();
    setup.format = format->format;
    setup.instrument = camera.name();
    const char* clock = GetPixclkItemName(GetPixelclock(cam), cam);
    setup.pixelClock = clock ? clock : "";
    setup.frameBufferBytes = size_t(std::max(RecvMemSize(cam), 0));
    setup.calibration = mastersByKind(cam);
    // The objective's micrometres per pixel (binning included), for the
    // OME-TIFF's physical pixel size.
    setup.samplePixelUm = picture.micronsPerPixel();
    RawLength length;
    if (pouRawUnit->currentIndex() == 0)
        length.frames = uint64_t(spnRawLength->value());
    else
        length.seconds = spnRawLength->value();
    setup.expectedFrames = length.frames;
    QString error;
    if (!raw.start(setup, length, error)) {
        status.note(L("Raw recording not started: %1").arg(error));
        return;
    }
    txtRaw->setText(rawCountsText({}));
    showState();
    status.note(L("Recording raw frames to %1").arg(path));
}

}  // namespace viewer
