// Movies of the live picture: the Start Video button and the movie being
// recorded, at the live view's measured rate, in the capture folder.
// Window thread only; the show thread hands each shown frame to frameShown().
#pragma once

#include <QObject>

#include "viewer/capture/movie_session.h"

class QPushButton;

namespace viewer {

class CaptureFolder;
class LiveController;
class SelectedCamera;
class StatusLine;

// The product that records no movie at its first (largest) resolution.
inline constexpr int kNoMovieAtFirstResolution = 0xA003;

class MovieCapture : public QObject {
    Q_OBJECT
  public:
    MovieCapture(const SelectedCamera& camera, StatusLine& status, const CaptureFolder& folder,
                 const LiveController& live, QObject* parent = nullptr);

    QPushButton* button() const { return btnMovie; }

    // The button for the camera at the resolution in force.
    void showResolution(int resolution);
    // "Start Video" / "Stop Video".
    void toggle();
    // Shut-down: the movie is finished.
    void finish() { movie.stop(); }
    const MovieSession& session() const { return movie; }

    // Show thread: one shown frame.
    void frameShown(const DisplayFrame& frame) {
        movie.frameShown(frame, MovieClock::Clock::now());
    }

  private:
    const char* cam() const;

    const SelectedCamera& camera;
    StatusLine& status;
    const CaptureFolder& folder;
    const LiveController& live;
    MovieSession movie;
    int resolution = 0;  // the one in force
    QPushButton* btnMovie;
};

}  // namespace viewer
