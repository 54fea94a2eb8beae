// ezcap's processing commands (rows of the table in commands.cpp): tone and
// colour settings, geometry, stretch, finished frames, and the closed loops.
#pragma once

#include <string>
#include <vector>

#include "commands.h"

namespace ezcap::processing {

using Args = std::vector<std::string>;

Status gamma(const std::string& camera, const Args& args);
Status contrast(const std::string& camera, const Args& args);
Status saturation(const std::string& camera, const Args& args);
Status gains(const std::string& camera, const Args& args);
Status mono(const std::string& camera, const Args& args);
Status enhance(const std::string& camera, const Args& args);
Status flip(const std::string& camera, const Args& args);
Status rotate(const std::string& camera, const Args& args);
Status stretch(const std::string& camera, const Args& args);
Status stretchAuto(const std::string& camera, const Args& args);
Status process(const std::string& camera, const Args& args);
Status autoExposure(const std::string& camera, const Args& args);
Status whiteBalance(const std::string& camera, const Args& args);
Status flatField(const std::string& camera, const Args& args);

}  // namespace ezcap::processing
