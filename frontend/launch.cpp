#include "frontend/launch.hpp"

#include "common/paths.hpp"
#include "common/text.hpp"
#include "platform/box.hpp"
#include "platform/process.hpp"

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvik::gui {

std::optional<int32_t> SelectedBitrate(const GuiSettings& s) {
    if (s.qualityLow) return s.lowBitrate;
    if (s.qualityDefault) return s.defaultBitrate;
    if (s.qualityHigh) return s.highBitrate;
    if (s.qualityCustom && IsValidBitrate(s.customBitrate)) return s.customBitrate;
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
    for (const char c : word) bare = bare && safe(c);
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

namespace {
bool is_executable_file(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::optional<std::string> find_program(const std::string& name, const char* searchPath) {
    if (name.empty()) return std::nullopt;
    if (name.find('/') != std::string::npos)
        return is_executable_file(name) ? std::optional(name) : std::nullopt;
    const std::string path = searchPath ? searchPath : "";
    size_t start = 0;
    while (start <= path.size()) {
        const size_t end = std::min(path.find(':', start), path.size());
        const std::string dir = path.substr(start, end - start);
        if (!dir.empty()) {
            const std::string candidate = join_path(dir, name);
            if (is_executable_file(candidate)) return candidate;
        }
        start = end + 1;
    }
    return std::nullopt;
}

// The words that make each terminal run the command that follows them. Terminals not
// listed take "-e program args...", the convention of x-terminal-emulator.
std::vector<std::string> words_before_command(const std::string& path) {
    const std::string name = file_part(path).value_or("");
    if (name == "gnome-terminal") return {"--"};
    if (name == "xfce4-terminal" || name == "mate-terminal" || name == "terminator") return {"-x"};
    if (name == "kitty" || name == "foot") return {};
    return {"-e"};
}
} // namespace

std::optional<TerminalCommand> FindTerminal(const char* terminalEnv, const char* searchPath) {
    std::vector<std::string> names;
    if (terminalEnv && *terminalEnv) names.emplace_back(terminalEnv);
    for (const char* n : {"x-terminal-emulator", "gnome-terminal", "konsole", "xfce4-terminal",
                          "mate-terminal", "terminator", "alacritty", "kitty", "foot", "xterm"})
        names.emplace_back(n);
    for (const auto& name : names) {
        if (auto found = find_program(name, searchPath))
            return TerminalCommand{*found, words_before_command(*found)};
    }
    return std::nullopt;
}

ProcessLauncher::ProcessLauncher(std::string boxProgram) : boxProgram_(std::move(boxProgram)) {}

ProcessLauncher::Plan ProcessLauncher::MakePlan(const LaunchRequest& request,
                                                const std::optional<TerminalCommand>& terminal) const {
    Plan plan;
    if (!request.silent && terminal) {
        // The variables go through env(1) inside the window: some terminals start their
        // command from a server process that does not see the environment we pass them.
        plan.inTerminal = true;
        plan.program = terminal->path;
        plan.arguments = terminal->beforeCommand;
        for (const char* w : {"/usr/bin/env", "-u", platform::kBoxProgramEnv})
            plan.arguments.emplace_back(w);
        plan.arguments.push_back(format_text("%s=1", platform::kBoxWaitEnv));
        plan.arguments.push_back(request.program);
        plan.arguments.insert(plan.arguments.end(), request.arguments.begin(), request.arguments.end());
        return plan;
    }
    plan.program = request.program;
    plan.arguments = request.arguments;
    plan.envChanges = {platform::kBoxWaitEnv};
    if (!boxProgram_.empty())
        plan.envChanges.push_back(format_text("%s=%s", platform::kBoxProgramEnv, boxProgram_.c_str()));
    return plan;
}

bool ProcessLauncher::Start(const LaunchRequest& request) {
    // Checked here as well, since in a terminal a missing encoder would only show there.
    if (!IsEncoderAt(request.program)) return false;
    const auto terminal = request.silent ? std::nullopt
                                         : FindTerminal(std::getenv("TERMINAL"), std::getenv("PATH"));
    const Plan plan = MakePlan(request, terminal);
    return platform::spawn_detached(plan.program, plan.arguments, request.workingDir, plan.envChanges);
}

} // namespace tarvik::gui
