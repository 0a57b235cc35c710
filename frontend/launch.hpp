// The encoder launch: the batch command line built from the settings, and the start of
// `tarvik` as an independent process, in a terminal window of its own or without one.
#pragma once

#include "frontend/settings.hpp"

#include <optional>
#include <string>
#include <vector>

namespace tarvik::gui {

// The bit rate of the selected quality; nullopt when Custom is selected without a valid
// custom bit rate.
std::optional<int32_t> SelectedBitrate(const GuiSettings& s);

// The encoder's arguments, in this order: -batch, -lips, -rem, -vbr N, exactly one
// -brate N, -noclick, the input folder, the output folder (empty folders left out). Each
// folder is one argument whatever it holds.
std::vector<std::string> BatchArguments(const GuiSettings& s, int32_t bitrate, bool noClick);

// POSIX shell quoting, for showing a command line: words of safe characters stay bare,
// others go in single quotes.
std::string ShellQuote(const std::string& word);
std::string CommandText(const std::string& program, const std::vector<std::string>& args);

struct LaunchRequest {
    std::string program;                // the encoder's full path
    std::vector<std::string> arguments; // after the program name
    std::string workingDir;             // the encoder's folder
    bool silent = false;                // no window
};

class Launcher {
public:
    virtual ~Launcher() = default;
    // Starts the encoder without waiting for it; false when it could not be started.
    virtual bool Start(const LaunchRequest& request) = 0;
};

// How to start a program inside a terminal emulator: its path and the words that go
// between it and the program's own command.
struct TerminalCommand {
    std::string path;
    std::vector<std::string> beforeCommand;
};

// The terminal emulator to use: $TERMINAL, then x-terminal-emulator, then the first of a
// short list of common ones found on `searchPath` (a PATH-style list).
std::optional<TerminalCommand> FindTerminal(const char* terminalEnv, const char* searchPath);

// The real launcher. Without silent mode the encoder runs in a terminal window and its
// boxes wait for Enter, so the window stays open on the batch summary. Silent, or with no
// terminal found, it runs without a window and its boxes are shown as desktop dialogs by
// `boxProgram` (started as "<boxProgram> --message-box <icon> <caption> <text>").
class ProcessLauncher final : public Launcher {
public:
    explicit ProcessLauncher(std::string boxProgram);
    bool Start(const LaunchRequest& request) override;

    // What Start would run: program and arguments, and the environment changes.
    struct Plan {
        std::string program;
        std::vector<std::string> arguments;
        std::vector<std::string> envChanges;
        bool inTerminal = false;
    };
    Plan MakePlan(const LaunchRequest& request, const std::optional<TerminalCommand>& terminal) const;

private:
    std::string boxProgram_;
};

} // namespace tarvik::gui
