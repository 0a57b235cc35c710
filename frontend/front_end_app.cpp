// SPDX-License-Identifier: GPL-3.0-or-later
#include "frontend/front_end_app.hpp"

#include "frontend/folder_picker.hpp"
#include "frontend/gui_box.hpp"
#include "frontend/main_dialog.hpp"
#include "frontend/qt_boxes.hpp"

#include "common/paths.hpp"
#include "common/version.hpp"

#include <QApplication>
#include <QTimer>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvik::gui {

FrontEndApp::FrontEndApp(Services services) : services_(std::move(services)) {}

int FrontEndApp::run() {
    settings_ = GuiSettings{};
    // A file too large to read is left alone, and the start goes on as without one.
    const bool haveFile = MakeSettingsPath(paths_, services_.exeDir) &&
                          checkSettingsFile() != SettingsFileState::TooLarge;
    if (!haveFile) {
        if (!findOrAskForEncoder(false)) return exitStatus_;
    } else if (!LocateEncoder(paths_)) {
        // The encoder was moved (or the file is damaged): find it again, keep the rest.
        if (!findOrAskForEncoder(true)) return exitStatus_;
    }

    MainDialog dialog(settings_, paths_, *services_.folders, *services_.launcher);
    if (services_.whenShown)
        QTimer::singleShot(0, &dialog, [this, &dialog] { services_.whenShown(dialog); });
    dialog.exec();
    if (!settings_.resetOnExit) saveSettings(true);
    return exitStatus_;
}

SettingsFileState::Kind FrontEndApp::checkSettingsFile() {
    const SettingsFileState state = InspectSettingsFile(paths_.settingsPath);
    if (state.kind == SettingsFileState::Usable || std::exchange(keptFileSaid_, true))
        return state.kind;
    const QString path = text_of(paths_.settingsPath);
    if (state.kind == SettingsFileState::TooLarge)
        show_error(tr("The settings file \"%1\" is not read: %2.\nIt is kept as it is; this run "
                      "starts from the default settings and saves nothing in it.")
                       .arg(path, text_of(state.reason)));
    else
        CurrentMessageBoxes().Show(
            {BoxIcon::Information, kGuiCaption,
             tr("The settings file \"%1\" is read-only, so it is kept as it is: the choices of "
                "this run are not saved in it.")
                 .arg(path)
                 .toStdString()});
    return state.kind;
}

void FrontEndApp::saveSettings(bool atQuit) {
    if (checkSettingsFile() != SettingsFileState::Usable) return;
    std::string why;
    if (!WriteSettings(settings_, paths_, &why) && atQuit)
        show_error(tr("The settings could not be saved in \"%1\" (%2).\nThe choices of this run "
                      "are not kept: the next start uses the file as it was before (the "
                      "defaults when there was none).")
                       .arg(text_of(paths_.settingsPath), text_of(why)));
}

bool FrontEndApp::findOrAskForEncoder(bool keepSettings) {
    if (keepSettings) {
        // What the file holds besides the encoder's folder, written back with the new one.
        TokenParser parser;
        parser.Load(paths_.settingsPath);
        ReadAllSettings(parser, settings_);
    }
    if (auto found = FindEncoderNear(services_.exeDir, services_.searchPath.c_str())) {
        paths_.encoderPath = *found;
        saveSettings(false);
        return true;
    }
    if (keepSettings) {
        if (CheckEncoder(paths_.encoderPath) == EncoderCheck::NotExecutable)
            show_error(tr("\"%1\" is not an executable program.").arg(text_of(paths_.encoderPath)));
        else
            show_error(tr("Possible reasons:\n- \"%1\" has no line \"%2\" naming tarvik's folder\n"
                          "- File not found: \"%3\"")
                           .arg(text_of(file_part(paths_.settingsPath).value_or("")),
                                text_of(std::string(kEncoderFolderKey)),
                                text_of(paths_.encoderPath)));
    }
    return askForEncoderFolder();
}

bool FrontEndApp::askForEncoderFolder() {
    const auto triesLeft = [](int left) {
        return left == 1 ? tr("1 try left") : tr("%1 tries left").arg(left);
    };
    for (;;) {
        const QString title = tr("Where did you install tarvik %1? (%2)")
                                  .arg(kVersion, triesLeft(kMaxPromptFailures - promptFailures_));
        const auto folder = services_.folders->choose(nullptr, title, services_.exeDir);
        if (!folder) return false;
        paths_.encoderPath = EncoderPathIn(*folder);
        const EncoderCheck check = CheckEncoder(paths_.encoderPath);
        if (check == EncoderCheck::Found) {
            if (!FolderStorable(*folder)) {
                // The next start could not read this folder back; ask for another.
                show_error(MainDialog::folderNotStorable(
                    *folder, tr("Please move tarvik to another folder.")));
                continue;
            }
            saveSettings(false);
            return true;
        }
        const QString problem =
            check == EncoderCheck::Missing
                ? tr("File not found: \"%1\"").arg(text_of(paths_.encoderPath))
                : tr("\"%1\" is not an executable program.").arg(text_of(paths_.encoderPath));
        const int left = kMaxPromptFailures - ++promptFailures_;
        if (left == 0) {
            show_error(tr("%1\n\nNo folder holding tarvik was chosen in %2 tries; tarvik-gui "
                          "cannot work without it and ends now.")
                           .arg(problem, QString::number(kMaxPromptFailures)));
            exitStatus_ = 1;
            return false;
        }
        show_error(tr("%1\n\n%2.").arg(problem, triesLeft(left)));
    }
}

namespace {
constexpr std::string_view kNoDisplay = "tarvik-gui: no display";

// Qt's platforms that draw without a display server.
constexpr std::array<std::string_view, 7> kServerlessPlatforms{
    "offscreen", "minimal", "minimalegl", "vnc", "linuxfb", "eglfs", "vkkhrdisplay"};

bool variable_set(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

// Whether Qt may find a display: the platform asked for (by -platform, else QT_QPA_PLATFORM:
// a ';' list of fallbacks, each "name[:options]") needs no display server, or DISPLAY or
// WAYLAND_DISPLAY names one.
bool display_named(int argc, char** argv) {
    const char* env = std::getenv("QT_QPA_PLATFORM");
    std::string_view platforms = env ? env : "";
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string_view(argv[i]) == "-platform" || std::string_view(argv[i]) == "--platform")
            platforms = argv[i + 1];
    while (!platforms.empty()) {
        const std::string_view item = platforms.substr(0, platforms.find(';'));
        platforms.remove_prefix(std::min(platforms.size(), item.size() + 1));
        if (std::ranges::count(kServerlessPlatforms, item.substr(0, item.find(':'))) > 0)
            return true;
    }
    return variable_set("DISPLAY") || variable_set("WAYLAND_DISPLAY");
}

constexpr const char* kHelp =
    "Usage: tarvik-gui [Qt options]\n"
    "       tarvik-gui --message-box <icon> <caption> <text>\n"
    "       tarvik-gui --help | --version\n"
    "\n"
    "tarvik-gui " TARVIK_VERSION " is the desktop front end of tarvik, the WAV to MP3 encoder:\n"
    "a dialog that remembers where tarvik is installed and your last choices, and\n"
    "starts \"tarvik -batch\" on a folder of WAV files.\n"
    "\n"
    "Options:\n"
    "  --message-box <icon> <caption> <text>\n"
    "              only show one message box and exit; <icon> is error, warning,\n"
    "              question or information (tarvik asks for it through\n"
    "              TARVIK_BOX_PROGRAM)\n"
    "  --help      print this help and exit\n"
    "  --version   print the version and exit\n"
    "Qt's own options (-platform, -style, ...) are accepted too.\n"
    "\n"
    "The settings are kept in tarvik-gui.ini; see tarvik-gui(1).\n";

// Qt's messages while the application object is made, held back: the first says why the
// display could not be opened, when it cannot.
struct StartMessages {
    QtMessageHandler previous = nullptr;
    std::vector<std::pair<QtMsgType, QString>> held; // as Qt would have printed them
    QString first;
};
StartMessages start_messages;

void hold_start_message(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type != QtFatalMsg) {
        if (start_messages.held.empty()) start_messages.first = text;
        start_messages.held.emplace_back(type, qFormatLogMessage(type, context, text));
        return;
    }
    // Qt found no display it could open and would abort now.
    const QString reason =
        start_messages.held.empty() ? text.section('\n', 0, 0) : start_messages.first;
    std::fprintf(stderr, "%s (%s)\n", std::string(kNoDisplay).c_str(), qPrintable(reason));
    std::fflush(nullptr);
    std::_Exit(1);
}
} // namespace

std::optional<EarlyEnd> EndBeforeWindows(int argc, char** argv) {
    const std::string_view first = argc >= 2 ? argv[1] : "";
    if (first == "--help") return EarlyEnd{0, kHelp, ""};
    if (first == "--version") return EarlyEnd{0, std::string("tarvik-gui ") + kVersion + "\n", ""};
    if (!display_named(argc, argv))
        return EarlyEnd{1, "", std::string(kNoDisplay) + " (set DISPLAY or WAYLAND_DISPLAY)\n"};
    return std::nullopt;
}

std::unique_ptr<QApplication> MakeApplication(int& argc, char** argv) {
    start_messages.previous = qInstallMessageHandler(hold_start_message);
    auto app = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(start_messages.previous);
    // The display opened: what Qt said meanwhile is said now, as it would have been.
    for (const auto& [type, text] : std::exchange(start_messages.held, {}))
        start_messages.previous(type, QMessageLogContext(), text);
    return app;
}

} // namespace tarvik::gui
