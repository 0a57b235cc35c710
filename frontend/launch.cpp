// SPDX-License-Identifier: GPL-3.0-or-later
#include "frontend/launch.hpp"

#include "common/paths.hpp"
#include "common/text.hpp"
#include "platform/box.hpp"
#include "platform/process.hpp"
#include "platform/system.hpp"

#include <cstdio>
#include <cstdlib>

namespace tarvik::gui {

std::optional<int32_t> SelectedBitrate(const GuiSettings& s) {
    switch (s.quality) {
    case Quality::Low:
        return s.lowBitrate;
    case Quality::Default:
        return s.defaultBitrate;
    case Quality::High:
        return s.highBitrate;
    case Quality::Custom:
        break;
    }
    if (IsValidBitrate(s.customBitrate)) return s.customBitrate;
    return std::nullopt;
}

std::vector<std::string> BatchArguments(const GuiSettings& s, int32_t bitrate, bool noClick) {
    std::vector<std::string> args{"-batch"};
    if (s.recurse) args.push_back("-recurse");
    if (s.update) args.push_back("-update");
    if (s.generateVlp) args.push_back("-lips");
    if (s.generateVlp && !s.lipsLanguage.empty() && s.lipsLanguage != lipsync::kDefaultLanguage)
        args.insert(args.end(), {"-lang", s.lipsLanguage});
    if (s.deleteWavs) args.push_back("-rem");
    if (s.normalizeLoudness) {
        args.push_back("-loudness");
        args.push_back(std::to_string(s.loudnessTarget));
    }
    if (s.useVbr) {
        args.push_back("-vbr");
        args.push_back(std::to_string(s.vbrValue));
    }
    args.push_back("-brate");
    args.push_back(std::to_string(bitrate));
    if (noClick) args.push_back("-noclick");
    if (!s.inputFolder.empty()) args.push_back(s.inputFolder);
    if (!s.outputFolder.empty()) args.push_back(s.outputFolder);
    return args;
}

std::string ShellQuote(const std::string& word) {
    const auto safe = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_' || c == '.' || c == '/' || c == ',' || c == ':' || c == '+' ||
               c == '=' || c == '@';
    };
    bool bare = !word.empty();
    for (const char c : word)
        bare = bare && safe(c);
    if (bare) return word;
    std::string out = "'";
    for (const char c : word) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    out += '\'';
    return out;
}

std::string CommandText(const std::string& program, const std::vector<std::string>& args) {
    std::string out = ShellQuote(program);
    for (const auto& a : args) {
        out += ' ';
        out += ShellQuote(a);
    }
    return out;
}

std::string BatchTitle(const std::string& inputFolder) {
    std::string name = inputFolder;
    while (name.size() > 1 && name.back() == '/')
        name.pop_back();
    name = file_part(name).value_or("");
    return name.empty() ? std::string("tarvik") : "tarvik: " + name;
}

void BatchOutputReader::Feed(std::string_view text) {
    for (const char c : text) {
        if (c == '\n')
            EndLine();
        else if (c == '\r')
            line_.clear(); // a progress line: only its last state counts
        else if (line_.size() < 1024)
            line_ += c;
    }
}

void BatchOutputReader::EndLine() {
    static constexpr size_t kLastLines = 6;
    if (line_.find_first_not_of(" \t") != std::string::npos) {
        end_.lastLines.push_back(line_);
        if (end_.lastLines.size() > kLastLines) end_.lastLines.erase(end_.lastLines.begin());
    }
    line_.clear();
}

BatchEnd BatchOutputReader::Finish(int exitStatus) {
    if (!line_.empty()) EndLine();
    end_.exitStatus = exitStatus;
    return end_;
}

void RunResults::AddFile(std::string_view status, const std::string& input,
                         const std::string& reason) {
    ++done;
    if (status != "failed" && status != "incomplete") return;
    if (failures.size() < kMaxListed) failures.push_back(input + ": " + reason);
    ++failureCount;
}

std::string BatchEndText(const BatchEnd& end, const RunResults& results) {
    if (end.exitStatus == 0 && results.failureCount == 0) return {};
    std::string text = end.exitStatus == 0 ? std::string("tarvik has finished.")
                       : end.exitStatus < 0
                           ? std::string("tarvik was stopped before it finished.")
                           : format_text("tarvik ended with exit status %d.", end.exitStatus);
    if (results.failureCount > 0) {
        text += format_text("\n\n%zu of %zu file(s) failed:\n", results.failureCount,
                            results.total.value_or(results.done));
        for (const auto& f : results.failures)
            text += f + "\n";
        if (results.failureCount > results.failures.size())
            text +=
                format_text("... and %zu more.\n", results.failureCount - results.failures.size());
    } else if (!end.lastLines.empty()) {
        text += "\n\nWhat it printed last:\n";
        for (const auto& l : end.lastLines)
            text += l + "\n";
    }
    return text;
}

namespace {
// The words that make each terminal run the command that follows them, and its title
// option. Terminals not listed take "-T title -e program args...", the convention of
// x-terminal-emulator.
TerminalCommand terminal_for(const std::string& path) {
    const std::string name = file_part(path).value_or("");
    if (name == "gnome-terminal") return {path, {"--"}, "--title"};
    if (name == "xfce4-terminal" || name == "mate-terminal" || name == "terminator")
        return {path, {"-x"}, "--title"};
    if (name == "kitty" || name == "foot") return {path, {}, "--title"};
    if (name == "alacritty") return {path, {"-e"}, "--title"};
    if (name == "konsole") return {path, {"-e"}, ""};
    return {path, {"-e"}, "-T"};
}
} // namespace

std::optional<TerminalCommand> FindTerminal(const char* terminalEnv, const char* searchPath) {
    std::vector<std::string> names;
    if (terminalEnv && *terminalEnv) names.emplace_back(terminalEnv);
    for (const char* n : {"x-terminal-emulator", "gnome-terminal", "konsole", "xfce4-terminal",
                          "mate-terminal", "terminator", "alacritty", "kitty", "foot", "xterm"})
        names.emplace_back(n);
    for (const auto& name : names) {
        if (auto found = FindProgram(name, searchPath)) return terminal_for(*found);
    }
    return std::nullopt;
}

ProcessLauncher::ProcessLauncher(std::string frontEnd) : frontEnd_(std::move(frontEnd)) {}

// A run still going is left to itself.
ProcessLauncher::~ProcessLauncher() = default;

ProcessLauncher::Plan
ProcessLauncher::MakePlan(const LaunchRequest& request,
                          const std::optional<TerminalCommand>& terminal) const {
    Plan plan;
    plan.envChanges = {platform::kBoxWaitEnv};
    if (!request.silent && terminal && !frontEnd_.empty()) {
        plan.inTerminal = true;
        plan.program = terminal->path;
        if (!terminal->titleOption.empty()) plan.arguments = {terminal->titleOption, request.title};
        plan.arguments.insert(plan.arguments.end(), terminal->beforeCommand.begin(),
                              terminal->beforeCommand.end());
        plan.arguments.push_back(frontEnd_);
        plan.arguments.push_back("--run-in-terminal");
        plan.arguments.push_back(request.program);
        plan.arguments.insert(plan.arguments.end(), request.arguments.begin(),
                              request.arguments.end());
        return plan;
    }
    plan.program = request.program;
    plan.arguments = request.arguments;
    if (!frontEnd_.empty())
        plan.envChanges.push_back(
            format_text("%s=%s", platform::kBoxProgramEnv, frontEnd_.c_str()));
    return plan;
}

LaunchResult ProcessLauncher::Start(const LaunchRequest& request) {
    // Checked here as well, since in a terminal a missing encoder would only show there.
    switch (CheckEncoder(request.program)) {
    case EncoderCheck::Missing:
        return LaunchResult::Missing;
    case EncoderCheck::NotExecutable:
        return LaunchResult::NotExecutable;
    case EncoderCheck::Found:
        break;
    }
    const auto terminal =
        request.silent ? std::nullopt : FindTerminal(std::getenv("TERMINAL"), std::getenv("PATH"));
    const Plan plan = MakePlan(request, terminal);
    runOutput_.reset();
    runPid_ = -1;
    // Without a window the output goes to an unnamed file, read when the run has ended; a
    // terminal program keeps the front end's streams.
    platform::FileDescriptor output;
    if (!plan.inTerminal) output = platform::create_unnamed_file(platform::temp_directory());
    const int pid = platform::spawn_watched(plan.program, plan.arguments, request.workingDir,
                                            plan.envChanges, plan.inTerminal ? -1 : output.get());
    if (pid < 0) return LaunchResult::Failed;
    runPid_ = pid;
    runInTerminal_ = plan.inTerminal;
    runOutput_ = std::move(output);
    return LaunchResult::Started;
}

RunState ProcessLauncher::PollRun() {
    if (runPid_ < 0) return {true, std::nullopt};
    const auto status = platform::child_exit_status(runPid_);
    if (!status) return {};
    runPid_ = -1;
    if (runInTerminal_) return {true, std::nullopt};
    BatchOutputReader reader;
    if (runOutput_.valid()) {
        std::string chunk(65536, '\0');
        long long at = 0;
        long long n;
        while ((n = runOutput_.read_at(chunk.data(), chunk.size(), at)) > 0) {
            reader.Feed(std::string_view(chunk.data(), static_cast<size_t>(n)));
            at += n;
        }
        runOutput_.reset();
    }
    return {true, reader.Finish(*status)};
}

int RunInTerminal(const std::string& program, const std::vector<std::string>& args) {
    // The encoder's boxes print here; the one wait at the end keeps the window open.
    ::unsetenv(platform::kBoxProgramEnv);
    ::unsetenv(platform::kBoxWaitEnv);
    // Ctrl-C in the window reaches the encoder (same process group) and stops its batch; this
    // process ignores it, so the window still waits for Enter afterwards.
    const platform::InterruptIgnored ignored;
    const platform::ProcessResult run = platform::run_in_foreground(program, args);
    const int status = run.exited ? run.exit_status : -1;
    if (!run.started)
        std::printf("Cannot start \"%s\".\n", program.c_str());
    else if (status < 0)
        std::printf("\ntarvik was stopped before it finished.\n");
    else
        std::printf("\ntarvik ended with exit status %d.\n", status);
    std::printf("Press Enter to close this window...");
    std::fflush(stdout);
    for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar()) {
    }
    return status < 0 ? 255 : status;
}

} // namespace tarvik::gui
