// What the viewer remembers of each camera model between sessions, in its
// settings file. The camera's own settings (resolution, clock, depth,
// exposure, gain, processing) stay in the SDK's parameter sets, which the
// SDK loads when a camera arrives and saves when it leaves or the SDK shuts
// down; this only records that a model's set holds settings the user made in
// the viewer, and the objective last used with the model.
#pragma once

#include <QString>

namespace viewer {

class ModelMemory {
  public:
    // The key of a model: its USB vendor and product, "0547:c004".
    static QString keyOf(int vendor, int product);

    // Whether the model's parameter set was saved after the viewer loaded it.
    bool known(const QString& model) const;
    void markKnown(const QString& model);

    // The objective last chosen with this model; empty for none.
    QString objective(const QString& model) const;
    void setObjective(const QString& model, const QString& name);
};

}  // namespace viewer
