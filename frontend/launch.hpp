// SPDX-License-Identifier: GPL-3.0-or-later
// The encoder launch: the batch command line built from the settings, and the start of
// `tarvik` as an independent process, in a terminal window of its own or without one.
#pragma once

#include "frontend/settings.hpp"
#include "platform/files.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik::gui {

// The bit rate of the selected quality; nullopt when Custom is selected without a valid
// custom bit rate.
std::optional<int32_t> SelectedBitrate(const GuiSettings& s);

// The encoder's arguments, in this order: -batch, -recurse, -update, -lips, -lang CODE (with
// -lips, when CODE is not the tool's default), -rem, -loudness TARGET, -vbr N, exactly one
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
    std::string title;                  // the terminal window's title
};

// The title of a batch's terminal window: "tarvik: " and the input folder's name.
std::string BatchTitle(const std::string& inputFolder);

enum class LaunchResult { Started, Missing, NotExecutable, Failed };

// How a silent run ended: its exit status (-1: ended by a signal) and the last lines it
// printed.
struct BatchEnd {
    int exitStatus = 0;
    std::vector<std::string> lastLines;
};

// What the results file of a run (tarvik -json, docs/results-format.md) has said so far.
struct RunResults {
    std::optional<size_t> total;       // the files the run takes, once its start is read
    size_t done = 0;                   // its files that have finished
    std::vector<std::string> failures; // "<WAV>: <reason>" of each file that failed or is
                                       // incomplete, the first kMaxListed
    size_t failureCount = 0;
    static constexpr size_t kMaxListed = 20;

    // A file record: its status, its WAV and the reason it gives.
    void AddFile(std::string_view status, const std::string& input, const std::string& reason);
};

// Collects a BatchEnd from the encoder's output, fed in pieces of any size. A progress line
// ended by carriage returns counts by its last state only.
class BatchOutputReader {
  public:
    void Feed(std::string_view text);
    BatchEnd Finish(int exitStatus);

  private:
    void EndLine();
    std::string line_;
    BatchEnd end_;
};

// The text of the box that closes a silent run: how it ended, and the files that failed
// with their reasons (or, when none did, the last lines it printed); empty
// when all went well (the encoder's own summary box then says everything).
std::string BatchEndText(const BatchEnd& end, const RunResults& results);

// How a watched run stands: going, or ended. A run without a window ends with what it
// printed; one in a terminal window ends with nothing to add (the window showed it all).
struct RunState {
    bool ended = false;
    std::optional<BatchEnd> silentEnd;
};

class Launcher {
  public:
    virtual ~Launcher() = default;
    // Starts the encoder without waiting for it.
    virtual LaunchResult Start(const LaunchRequest& request) = 0;
    // Whether the run started last is watched until it ends.
    virtual bool Watching() const = 0;
    // For that run: how it stands; once it has ended, the next polls find nothing watched
    // (ended, no silentEnd). The run itself is never stopped or waited for.
    virtual RunState PollRun() = 0;
};

// How to start a program inside a terminal emulator: its path, the words that set the
// window's title (before `title`), and the words that go between it and the command.
struct TerminalCommand {
    std::string path;
    std::vector<std::string> beforeCommand;
    std::string titleOption;
};

// The terminal emulator to use: $TERMINAL, then x-terminal-emulator, then the first of a
// short list of common ones found on `searchPath` (a PATH-style list).
std::optional<TerminalCommand> FindTerminal(const char* terminalEnv, const char* searchPath);

// The real launcher. Without silent mode the encoder runs in a terminal window through
// "<frontEnd> --run-in-terminal", which keeps the window open until Enter after every run;
// the run is watched until the terminal program ends (a terminal that hands its windows to
// a server of its own ends at once). Silent, or with no terminal found, it runs without a
// window, its boxes shown as desktop dialogs by "<frontEnd> --message-box <icon> <caption>
// <text>", its output kept for the box that closes the run. Either way it runs in a
// session of its own and outlives the front end.
class ProcessLauncher final : public Launcher {
  public:
    explicit ProcessLauncher(std::string frontEnd);
    ~ProcessLauncher() override;
    LaunchResult Start(const LaunchRequest& request) override;
    bool Watching() const override { return runPid_ >= 0; }
    RunState PollRun() override;

    // What Start would run: program and arguments, and the environment changes.
    struct Plan {
        std::string program;
        std::vector<std::string> arguments;
        std::vector<std::string> envChanges;
        bool inTerminal = false;
    };
    Plan MakePlan(const LaunchRequest& request,
                  const std::optional<TerminalCommand>& terminal) const;

  private:
    std::string frontEnd_;
    int runPid_ = -1;                    // the run being watched
    bool runInTerminal_ = false;         // in a terminal window, else silent
    platform::FileDescriptor runOutput_; // a silent run's output file (unnamed)
};

// "tarvik-gui --run-in-terminal <program> <args...>": runs the encoder in the terminal it was
// started in, then says how it ended and waits for Enter; returns the encoder's exit status.
int RunInTerminal(const std::string& program, const std::vector<std::string>& args);

} // namespace tarvik::gui
