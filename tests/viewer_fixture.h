// The viewer on simulated cameras, offscreen, with the user's directories in a
// temporary home, for the viewer's tests: its controls found by their object
// names, as a script driving the window finds them.
#pragma once

// Before any Qt header: the simulator has a member named like Qt's `emit`.
#include "sim/sim_bus.h"
// (the order above matters)
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ezcam.h"
#include "viewer/picture/live_view.h"
#include "viewer/picture/picture_tools.h"
#include "viewer/viewer.h"
#include "viewer/viewer_window.h"
#include "viewer/widgets/radio_row.h"

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace viewertest {

// The one application object of the test program.
inline QApplication& application() {
    static int argc = 1;
    static char name[] = "viewer-test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        setenv("EZCAM_SIM", "", 1);  // the simulated bus, no camera at start
        QCoreApplication::setOrganizationName("ezcam");
        QCoreApplication::setApplicationName("ezview-test");
        return new QApplication(argc, argv);
    }();
    return *app;
}

// Runs the event loop until `done` holds; false after `timeoutMs`.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}

// A control of `window` by its object name; a failure of the test when it has none.
template <class Control>
Control* control(const QWidget& window, const char* name) {
    auto* found = window.findChild<Control*>(QString::fromLatin1(name));
    if (!found) ADD_FAILURE() << "no control named " << name;
    return found;
}

// A viewer, its pieces and its window, as a test drives it: controls by
// their object names, what its parts hold by plain questions.
class ViewerHarness {
  public:
    ViewerHarness() : viewer(std::make_unique<viewer::Viewer>()) {}
    ~ViewerHarness() { quit(); }
    ViewerHarness(const ViewerHarness&) = delete;
    ViewerHarness& operator=(const ViewerHarness&) = delete;

    void launch() { viewer->launch(); }
    void quit() { viewer->terminate(); }
    viewer::ViewerWindow& window() const { return viewer->window(); }

    // ---- Controls -------------------------------------------------------------
    template <class Control>
    Control* find(const char* name) const {
        return control<Control>(window(), name);
    }
    QComboBox* combo(const char* name) const { return find<QComboBox>(name); }
    QPushButton* button(const char* name) const { return find<QPushButton>(name); }
    QCheckBox* check(const char* name) const { return find<QCheckBox>(name); }
    QSlider* slider(const char* name) const { return find<QSlider>(name); }
    QLabel* label(const char* name) const { return find<QLabel>(name); }
    QLineEdit* field(const char* name) const { return find<QLineEdit>(name); }
    QAction* action(const char* name) const { return find<QAction>(name); }
    viewer::RadioRow* depth() const { return find<viewer::RadioRow>("radBit"); }
    viewer::LiveView* view() const { return find<viewer::LiveView>("pView"); }
    QTabWidget* tabs() const { return find<QTabWidget>("tabView"); }
    // Where the tab of that caption is; -1 while it is not shown.
    int tabIndex(const QString& caption) const {
        for (int i = 0; i < tabs()->count(); ++i)
            if (tabs()->tabText(i) == caption) return i;
        return -1;
    }
    // Chooses an entry of a list as the user does: the list tells of it.
    void choose(const char* list, int index) const {
        QComboBox* box = combo(list);
        box->setCurrentIndex(index);
        emit box->activated(index);
    }
    QString message() const { return window().statusBar()->currentMessage(); }

    // ---- What the parts hold ------------------------------------------------
    // The camera the viewer works on; empty for none.
    const std::string& selected() const { return viewer->camera().name(); }
    int camerasConnected() const { return viewer->session().connected(); }
    int liveUnplugsPending() const { return viewer->session().liveUnplugsPending(); }
    bool liveRunning() const { return viewer->live().running(); }
    bool frameBuffersReady() const { return viewer->live().ready(); }
    // What the last ten shown frames took, in milliseconds.
    int frameIntervalMs() const { return viewer->live().frameIntervalMs(); }
    viewer::ExposureRange exposureRange() const {
        return viewer->settings().sensor().exposureRange();
    }
    bool movieRecording() const { return viewer->movies().session().recording(); }
    std::string moviePath() const { return viewer->movies().session().path(); }
    viewer::RawRecording& rawRecording() const { return viewer->raw().recording(); }
    viewer::MasterTaker& masters() const { return viewer->calibration().masters(); }
    viewer::CalibrationDialog* calibrationDialog() const { return viewer->calibration().dialog(); }
    viewer::PictureTools& pictureTools() const { return viewer->picture(); }
    QString settingsFilePath() const { return viewer->settingsFilePath(); }
    // Loads the controls from the camera again.
    void reload() const { viewer->session().reload(); }
    // No pause for the camera to settle after a resolution or clock change.
    void settleAtOnce() const { viewer->settings().sensor().setSettleDelay(0); }

    // `receiver` hears of every still asked for: (base name, the camera's answer).
    template <class Receiver>
    void onStill(Receiver receiver) const {
        QObject::connect(&viewer->stills(), &viewer::StillCapture::stillRequested, receiver);
    }
    // `receiver` hears when live view has ended and its threads are gone.
    template <class Receiver>
    void onLiveEnded(Receiver receiver) const {
        QObject::connect(viewer.get(), &viewer::Viewer::liveEnded, receiver);
    }

  private:
    std::unique_ptr<viewer::Viewer> viewer;
};

class ViewerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        application();
        ASSERT_TRUE(home.isValid());
        setenv("HOME", home.path().toUtf8().constData(), 1);
        setenv("XDG_CONFIG_HOME", home.filePath(".config").toUtf8().constData(), 1);
        unsetenv("XDG_DOCUMENTS_DIR");
        unsetenv("XDG_DESKTOP_DIR");
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.filePath(".config"));
        d = std::make_unique<ViewerHarness>();
        window = &d->window();
        d->settleAtOnce();
    }
    void TearDown() override {
        quit();
        for (int id : plugged) SimUnplugCamera(id);
        window = nullptr;
        d.reset();
    }
    void launch() { d->launch(); }
    void quit() { d->quit(); }

    // Plugs a camera; its name once the viewer listed it, or "" when the SDK
    // has no model for the product.
    std::string plug(int product, int release = 0x0100) {
        const int before = d->combo("pouDev")->count();
        lastId = SimPlugCamera(0x0547, product, release);
        plugged.push_back(lastId);
        if (!waitUntil([&] { return d->combo("pouDev")->count() > before; }, 2000)) return "";
        return d->combo("pouDev")->itemText(d->combo("pouDev")->count() - 1).toStdString();
    }
    void unplug(int id) {
        const int before = d->camerasConnected();
        SimUnplugCamera(id);
        EXPECT_TRUE(waitUntil([&] { return d->camerasConnected() < before; }, 2000));
    }
    sim::SimCamera& camera(int id) { return *sim::simBus().camera(id); }
    // Control requests the camera received since the last clear.
    int controlRequests(int id) {
        int n = 0;
        for (const std::string& line : camera(id).trace())
            n += line.find(" ctrl ") != std::string::npos;
        return n;
    }
    const char* cam() const { return d->selected().c_str(); }

    QTemporaryDir home;
    std::unique_ptr<ViewerHarness> d;
    QMainWindow* window = nullptr;
    std::vector<int> plugged;
    int lastId = 0;
};

}  // namespace viewertest

namespace viewertest {

// Whether the SDK turns this camera's frames into images.
inline bool decodesFrames(const char* name) {
    std::vector<unsigned char> raw(size_t(RecvMemSize(name)));
    std::vector<unsigned char> image(3 * raw.size());
    for (int attempt = 0; attempt < 5; ++attempt)
        if (GetRawData(raw.data(), int(raw.size()), name) == 0)
            return DecodeRaw2Image(raw.data(), image.data(), name) == 0;
    return false;
}

}  // namespace viewertest
