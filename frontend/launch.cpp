#include "frontend/launch.hpp"

#include "common/paths.hpp"
#include "common/text.hpp"
#include "platform/box.hpp"
#include "platform/process.hpp"
#include "platform/system.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

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
    if (s.generateVlp) args.push_back("-lips");
    if (s.deleteWavs) args.push_back("-rem");
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
    if (line_.rfind("WARNING! ", 0) == 0) {
        if (end_.warnings.size() < BatchEnd::kMaxWarnings) end_.warnings.push_back(line_);
        ++end_.warningCount;
    }
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

std::string BatchEndText(const BatchEnd& end) {
    if (end.exitStatus == 0 && end.warningCount == 0) return {};
    std::string text = end.exitStatus == 0 ? std::string("tarvik has finished.")
                       : end.exitStatus < 0
                           ? std::string("tarvik was stopped before it finished.")
                           : format_text("tarvik ended with exit status %d.", end.exitStatus);
    if (end.warningCount > 0) {
        text += format_text("\n\n%zu warning(s):\n", end.warningCount);
        for (const auto& w : end.warnings)
            text += w + "\n";
        if (end.warningCount > end.warnings.size())
            text += format_text("... and %zu more.\n", end.warningCount - end.warnings.size());
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

ProcessLauncher::~ProcessLauncher() {
    // A run still going is left to itself.
    if (runOutput_ >= 0) ::close(runOutput_);
}

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
    if (runOutput_ >= 0) ::close(runOutput_);
    runPid_ = runOutput_ = -1;
    if (plan.inTerminal)
        return platform::spawn_detached(plan.program, plan.arguments, request.workingDir,
                                        plan.envChanges)
                   ? LaunchResult::Started
                   : LaunchResult::Failed;

    // Without a window the output goes to an unnamed file, read when the run has ended.
    int output = ::open(platform::temp_directory().c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (output < 0) {
        std::string name = platform::temp_directory() + "/tarvik-gui-run-XXXXXX";
        output = ::mkostemp(name.data(), O_CLOEXEC);
        if (output >= 0) ::unlink(name.c_str());
    }
    const int pid = platform::spawn_watched(plan.program, plan.arguments, request.workingDir,
                                            plan.envChanges, output);
    if (pid < 0) {
        if (output >= 0) ::close(output);
        return LaunchResult::Failed;
    }
    runPid_ = pid;
    runOutput_ = output;
    return LaunchResult::Started;
}

std::optional<BatchEnd> ProcessLauncher::PollSilentRun() {
    if (runPid_ < 0) return std::nullopt;
    const auto status = platform::child_exit_status(runPid_);
    if (!status) return std::nullopt;
    BatchOutputReader reader;
    if (runOutput_ >= 0) {
        std::string chunk(65536, '\0');
        off_t at = 0;
        ssize_t n;
        while ((n = ::pread(runOutput_, chunk.data(), chunk.size(), at)) > 0) {
            reader.Feed(std::string_view(chunk.data(), static_cast<size_t>(n)));
            at += n;
        }
        ::close(runOutput_);
    }
    runPid_ = -1;
    runOutput_ = -1;
    return reader.Finish(*status);
}

int RunInTerminal(const std::string& program, const std::vector<std::string>& args) {
    // The encoder's boxes print here; the one wait at the end keeps the window open.
    ::unsetenv(platform::kBoxProgramEnv);
    ::unsetenv(platform::kBoxWaitEnv);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // Ctrl-C in the window reaches the encoder (same process group) and stops its batch; this
    // process ignores it, so the window still waits for Enter afterwards.
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGINT, &ignore, &previous);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    int status = -1;
    if (::posix_spawn(&pid, program.c_str(), nullptr, &attr, argv.data(), environ) == 0) {
        int raw = 0;
        while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
        }
        status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        if (status < 0)
            std::printf("\ntarvik was stopped before it finished.\n");
        else
            std::printf("\ntarvik ended with exit status %d.\n", status);
    } else {
        std::printf("Cannot start \"%s\".\n", program.c_str());
    }
    posix_spawnattr_destroy(&attr);
    std::printf("Press Enter to close this window...");
    std::fflush(stdout);
    for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar()) {
    }
    ::sigaction(SIGINT, &previous, nullptr);
    return status < 0 ? 255 : status;
}

} // namespace tarvik::gui
