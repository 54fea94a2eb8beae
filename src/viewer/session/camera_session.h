// The camera session: the SDK started and shut down, the list of connected
// cameras kept through hot-plug with the news of each arrival and
// departure, and the selected camera opened (resumed, its frame buffers
// made) and left (suspended) as the user or an unplug chooses another. The
// other parts load their controls from it when told. It also remembers, per
// camera model, whether the user set it up before and the objective last
// used with it. Window thread only; the SDK's hot-plug and log callbacks
// come back to it there.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <map>
#include <string>

#include "viewer/session/model_memory.h"

class QComboBox;
class QLabel;

namespace viewer {

class LiveController;
class SelectedCamera;
class StatusLine;

class CameraSession : public QObject {
    Q_OBJECT
  public:
    CameraSession(SelectedCamera& camera, StatusLine& status, LiveController& live,
                  QObject* parent = nullptr);

    QComboBox* list() const { return pouDev; }
    QLabel* news() const { return txtDev; }

    // Starts the SDK with its parameter sets in `documents`: the cameras
    // present are listed at once and the first is opened.
    void start(const QString& documents);
    // No more hot-plug: shut-down has begun.
    void stopWatching();
    // Shuts the SDK down, which saves every camera's parameter set; live
    // view must have stopped.
    void finish();

    int connected() const { return cntDevConnect; }
    // Unplugs of the live camera whose switch waits for live view to end.
    int liveUnplugsPending() const { return cntRunDevLeft; }
    // Whether live view is ending because its camera was unplugged.
    bool liveCameraLeft() const { return cntRunDevLeft > 0; }
    // Live view has ended: an unplugged live camera is left for another now.
    void liveEnded();

    // The camera chosen in the list becomes the selected one.
    void choose();
    // Opens the selected camera again and has the controls loaded from it.
    void reload();
    // The camera list is locked while live view runs.
    void lockList(bool locked);

    // The objective last used with the selected camera's model.
    QString rememberedObjective() const;
    void rememberObjective(const QString& name);

  signals:
    // A camera was listed.
    void arrived();
    // The selected camera is about to be left for another: what uses it stops.
    void leaving();
    // The selected camera is open: its controls load from it. A model the
    // user never set up loads for the first time.
    void loaded(bool firstLoad);
    // No camera is left: nothing may reach one.
    void closed();

  private:
    static void hotPlugHandler(void* receiver, const char* name, int event);
    static void logHandler(void* receiver, int level, const char* message);
    void refreshDevices(const QString& name, int event);
    void chooseFirst();
    const char* cam() const;

    SelectedCamera& camera;
    StatusLine& status;
    LiveController& live;
    int cntDevConnect = 0;  // cameras connected
    int cntRunDevLeft = 0;  // unplugs of the live camera not yet handled
    QTimer hotPlugTimer;
    ModelMemory memory;
    // Cameras opened this session, by name, with their model's key: their
    // parameter sets hold what the user set once the SDK saved them.
    std::map<std::string, QString> loadedModels;

    QComboBox* pouDev;  // connected cameras
    QLabel* txtDev;     // connect / disconnect news
};

}  // namespace viewer
