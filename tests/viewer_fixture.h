// The viewer's controller and window on simulated cameras, offscreen, with
// the user's directories in a temporary home, for the viewer's tests.
#pragma once

// Before any Qt header: the simulator has a member named like Qt's `emit`.
#include "sim/sim_bus.h"
// (the order above matters)
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ezcam.h"
#include "viewer/app_delegate.h"
#include "viewer/viewer_window.h"

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
        d = std::make_unique<viewer::AppDelegate>();
        window = std::make_unique<viewer::ViewerWindow>(*d);
        d->setWindow(window.get());
        d->settleDelayMs = 0;
    }
    void TearDown() override {
        quit();
        for (int id : plugged) SimUnplugCamera(id);
        window.reset();
        d.reset();
    }
    void launch() { d->applicationDidFinishLaunching(); }
    void quit() { d->applicationShouldTerminate(); }

    // Plugs a camera; its name once the viewer listed it, or "" when the SDK
    // has no model for the product.
    std::string plug(int product, int release = 0x0100) {
        const int before = d->pouDev->count();
        lastId = SimPlugCamera(0x0547, product, release);
        plugged.push_back(lastId);
        if (!waitUntil([&] { return d->pouDev->count() > before; }, 2000)) return "";
        return d->pouDev->itemText(d->pouDev->count() - 1).toStdString();
    }
    void unplug(int id) {
        const int before = d->cntDevConnect;
        SimUnplugCamera(id);
        EXPECT_TRUE(waitUntil([&] { return d->cntDevConnect < before; }, 2000));
    }
    sim::SimCamera& camera(int id) { return *sim::simBus().camera(id); }
    // Control requests the camera received since the last clear.
    int controlRequests(int id) {
        int n = 0;
        for (const std::string& line : camera(id).trace())
            n += line.find(" ctrl ") != std::string::npos;
        return n;
    }
    const char* cam() const { return d->camName.c_str(); }

    QTemporaryDir home;
    std::unique_ptr<viewer::AppDelegate> d;
    std::unique_ptr<viewer::ViewerWindow> window;
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
