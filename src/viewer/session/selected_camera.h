// The camera the viewer works on: every part names it in its calls to the
// SDK. The camera session chooses it; the other parts only read it. Window
// thread only (the live threads keep their own copy while they run).
#pragma once

#include <string>
#include <utility>

namespace viewer {

class SelectedCamera {
  public:
    const std::string& name() const { return camName; }
    // The name as the SDK's calls take it.
    const char* c_str() const { return camName.c_str(); }
    bool none() const { return camName.empty(); }

    void select(std::string name) { camName = std::move(name); }
    void clear() { camName.clear(); }

  private:
    std::string camName;
};

}  // namespace viewer
