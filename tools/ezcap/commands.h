// ezcap's commands: each is a word with a fixed number of arguments, run in
// command-line order on the selected camera. A new command is one more row
// of the table in commands.cpp.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ezcap {

enum class Status { Ok, Failed, BadInput };

struct Command {
    const char* name;
    int arguments;         // words that follow the name
    const char* synopsis;  // e.g. "resolution INDEX"
    const char* help;      // one line
    bool needsCamera;
    Status (*run)(const std::string& camera, const std::vector<std::string>& arguments);
};

const std::vector<Command>& commands();
const Command* findCommand(const std::string& name);

// Prints "ezcap: ..." to standard error.
void complain(const std::string& message);
// Whole-word numbers; nothing (and a complaint) for anything else.
std::optional<int> parseInt(const std::string& what, const std::string& text);
std::optional<float> parseFloat(const std::string& what, const std::string& text);

}  // namespace ezcap
