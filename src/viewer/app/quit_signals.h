// Interrupt and termination signals close the window, so the viewer quits as
// if the user had closed it: live view stopped, movie finished, settings kept.
#pragma once

class QWidget;

namespace viewer {

void closeOnQuitSignals(QWidget* window);

}  // namespace viewer
