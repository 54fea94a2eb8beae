// ezcap: command-line client of the ezcam call surface. Lists cameras, shows
// and changes their sensor settings, grabs raw frames, takes stills, and
// keeps parameter sets and the camera's information memory.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "ezcam.h"

namespace {
constexpr int kExitFailed = 1;
constexpr int kExitBadInput = 2;
constexpr int kExitIncomplete = 3;
constexpr int kExitLit = 4;

void usage(FILE* out) {
    std::fprintf(
        out,
        "usage: ezcap [-c NAME] [-d DIRECTORY] [-t SECS] [-k] COMMAND [ARGS]... [COMMAND [ARGS]...]...\n"
        "\n"
        "Commands run in the order given, on one camera: the first connected one\n"
        "unless --camera names another. Settings last while ezcap runs, so give\n"
        "them before the grab they are meant for, e.g.\n"
        "  ezcap -c QC500.0 resolution 2 exposure 15 grab 10\n"
        "\n"
        "options:\n"
        "  -c, --camera NAME    camera to use (see 'list')\n"
        "  -d, --dir DIRECTORY  directory of the parameter sets: the camera's set is\n"
        "                       loaded on arrival and saved when ezcap ends (none\n"
        "                       are kept without it)\n"
        "  -t, --timeout SECS   how long 'still' waits for its frame (default 10 s\n"
        "                       plus three exposures)\n"
        "  -k, --keep-going     run the commands after one that failed; the exit\n"
        "                       status is still the first failure's\n"
        "  -h, --help           this text\n"
        "\n"
        "commands:\n");
    for (const ezcap::Command& command : ezcap::commands())
        std::fprintf(out, "  %-24s %s\n", command.synopsis, command.help);
    std::fprintf(
        out,
        "\n"
        "Set EZCAM_SIM (for example EZCAM_SIM=0547:c004,0547:c006) to use simulated\n"
        "cameras instead of the USB bus.\n"
        "\n"
        "exit status: 0 done, 1 a camera refused or failed, 2 bad command line or value,\n"
        "3 a recording lost frames, 4 a dark or bias showed light (cover the lens)\n");
}

int badInput(const std::string& message) {
    ezcap::complain(message);
    std::fprintf(stderr, "Try 'ezcap --help'.\n");
    return kExitBadInput;
}

struct Step {
    const ezcap::Command* command;
    std::vector<std::string> arguments;
};

// Picks the camera the steps run on; empty when there is none to pick.
std::string selectCamera(const std::string& wanted, std::string& error) {
    std::vector<std::string> names;
    for (int i = 0; i < DeviceCount(); ++i) names.emplace_back(DeviceName(i));
    if (names.empty()) {
        error = "no camera connected";
        return {};
    }
    if (wanted.empty()) return names.front();
    for (const std::string& name : names)
        if (name == wanted) return name;
    std::string list;
    for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
    error = "unknown camera '" + wanted + "' (connected: " + list + ")";
    return {};
}
}  // namespace

int main(int argc, char** argv) {
    std::string wanted;
    std::string directory;
    bool keepGoing = false;
    std::vector<Step> steps;
    bool needsCamera = false;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "-h" || word == "--help") {
            usage(stdout);
            return 0;
        }
        if (word == "-c" || word == "--camera" || word == "-d" || word == "--dir") {
            if (i + 1 >= argc) return badInput(word + " needs a value");
            (word == "-c" || word == "--camera" ? wanted : directory) = argv[++i];
            continue;
        }
        if (word == "-k" || word == "--keep-going") {
            keepGoing = true;
            continue;
        }
        if (word == "-t" || word == "--timeout") {
            if (i + 1 >= argc) return badInput(word + " needs a value");
            const auto seconds = ezcap::parseFloat("time-out", argv[++i]);
            if (!seconds) return badInput("--timeout takes seconds");
            if (*seconds <= 0) return badInput("--timeout must be positive");
            ezcap::options().timeoutSeconds = *seconds;
            continue;
        }
        if (!word.empty() && word[0] == '-') return badInput("unknown option " + word);
        const ezcap::Command* command = ezcap::findCommand(word);
        if (!command) return badInput("unknown command '" + word + "'");
        if (i + command->arguments >= argc)
            return badInput(
                std::string("'") + command->name + "' needs " + std::to_string(command->arguments) +
                (command->arguments == 1 ? " value: " : " values: ") + command->synopsis);
        Step step{command, {}};
        for (int k = 0; k < command->arguments; ++k) step.arguments.emplace_back(argv[++i]);
        const auto listed = [](const std::vector<std::string>& list, const char* word) {
            return std::find(list.begin(), list.end(), word) != list.end();
        };
        while (i + 1 < argc && (listed(command->options, argv[i + 1]) || listed(command->flags, argv[i + 1]))) {
            if (listed(command->flags, argv[i + 1])) {
                step.arguments.emplace_back(argv[++i]);
                step.arguments.emplace_back();
                continue;
            }
            if (i + 2 >= argc) return badInput(std::string(argv[i + 1]) + " needs a value");
            step.arguments.emplace_back(argv[++i]);
            step.arguments.emplace_back(argv[++i]);
        }
        needsCamera = needsCamera || command->needsCamera;
        steps.push_back(std::move(step));
    }
    if (steps.empty()) return badInput("no command given");
    // The camera appends its file names to the directory as they are.
    if (!directory.empty() && directory.back() != '/') directory += '/';
    ezcap::options().directory = directory;

    InitDevice(nullptr, nullptr, directory.c_str());
    // Arrivals the bus reports a moment after start-up.
    while (PollDevice(100) > 0) {
    }

    int status = 0;
    std::string& camera = ezcap::options().camera;
    if (needsCamera) {
        std::string error;
        camera = selectCamera(wanted, error);
        if (camera.empty())
            status = wanted.empty() ? (ezcap::complain(error), kExitFailed) : badInput(error);
    }
    // Streaming from the start: resuming re-programs the resolution, which
    // would end a region of interest set before it.
    if (!camera.empty()) ResumeDevice(camera.c_str());
    const bool cameraFound = status == 0;
    for (size_t i = 0; cameraFound && (status == 0 || keepGoing) && i < steps.size(); ++i) {
        const ezcap::Status result = steps[i].command->run(camera, steps[i].arguments);
        int failure = 0;
        if (result == ezcap::Status::Failed) failure = kExitFailed;
        if (result == ezcap::Status::BadInput) failure = kExitBadInput;
        if (result == ezcap::Status::Incomplete) failure = kExitIncomplete;
        if (result == ezcap::Status::Lit) failure = kExitLit;
        if (status == 0) status = failure;
    }
    if (!camera.empty()) SuspendDevice(camera.c_str());
    ExitDevice();
    return status;
}
