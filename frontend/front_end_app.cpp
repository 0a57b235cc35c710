#include "frontend/front_end_app.hpp"

#include "frontend/folder_picker.hpp"
#include "frontend/gui_box.hpp"
#include "frontend/main_dlg.hpp"

#include "common/paths.hpp"
#include "common/text.hpp"

#include <QTimer>

#include <cstdio>

namespace tarvik::gui {

CFrontEndApp::CFrontEndApp(Services services) : services_(std::move(services)) {}

bool CFrontEndApp::InitInstance() {
    SetDefaultSettings(settings_);

    if (!MakeSettingsPath(paths_, services_.exeDir)) {
        if (!FindOrAskForEncoder(false)) return false;
    } else if (!LocateEncoder(paths_)) {
        // The encoder was moved (or the file is damaged): find it again, keep the rest.
        if (!FindOrAskForEncoder(true)) return false;
    }

    CMainDlg dlg(settings_, paths_, *services_.folders, *services_.launcher);
    dialogShown_ = true;
    if (services_.whenShown) {
        QTimer::singleShot(0, &dlg, [this, &dlg] { services_.whenShown(dlg); });
    }
    dlg.exec();
    std::string why;
    if (!settings_.resetOnExit && !WriteSettings(settings_, paths_, &why))
        show_gui_error("The settings could not be saved in \"%s\" (%s).\nThey are lost; the next "
                       "start asks for tarvik's folder again.",
                       paths_.settingsPath.c_str(), why.c_str());
    return false;
}

bool CFrontEndApp::FindOrAskForEncoder(bool keepSettings) {
    if (keepSettings) {
        // What the file holds besides the encoder's folder, written back with the new one.
        TokenParser parser;
        parser.Load(paths_.settingsPath);
        ReadAllSettings(parser, settings_);
    }
    if (auto found = FindEncoderNear(services_.exeDir, services_.searchPath.c_str())) {
        paths_.encoderPath = *found;
        WriteSettings(settings_, paths_);
        return true;
    }
    if (keepSettings) {
        if (CheckEncoder(paths_.encoderPath) == EncoderCheck::NotExecutable)
            show_gui_error("\"%s\" is not an executable program.", paths_.encoderPath.c_str());
        else
            show_gui_error(
                "Possible reasons:\n- Missing token token in \"%s\": \"$tarvik folder:\"\n"
                "- File not found: \"%s\"",
                file_part(paths_.settingsPath).value_or("").c_str(), paths_.encoderPath.c_str());
    }
    return AskForEncoderFolder();
}

bool CFrontEndApp::AskForEncoderFolder() {
    std::string title = "Where did you install tarvik 1.1b?";
    for (;;) {
        const auto folder = services_.folders->Choose(nullptr, title, services_.exeDir);
        if (!folder) return false;
        paths_.encoderPath = EncoderPathIn(*folder);
        const EncoderCheck check = CheckEncoder(paths_.encoderPath);
        if (check == EncoderCheck::Found) {
            if (!FolderStorable(*folder)) {
                // The next start could not read this folder back; ask for another.
                show_gui_error(
                    "This folder cannot be kept in \"%s\":\n\"%s\"\n\nFolder names "
                    "holding ';', a line break or \"#eof\", beginning or ending with a "
                    "blank, or longer than 256 bytes cannot be read back from it. Please "
                    "move tarvik to another folder.",
                    kSettingsFileName, folder->c_str());
                continue;
            }
            WriteSettings(settings_, paths_);
            return true;
        }
        const std::string problem =
            check == EncoderCheck::Missing
                ? format_text("File not found: \"%s\"", paths_.encoderPath.c_str())
                : format_text("\"%s\" is not an executable program.", paths_.encoderPath.c_str());
        const int left = kMaxPromptFailures - ++promptFailures_;
        if (left == 0) {
            show_gui_error(
                "%s\n\nNo folder holding tarvik was chosen in %d tries; tarvik-gui cannot "
                "work without it and ends now.",
                problem.c_str(), kMaxPromptFailures);
            exitStatus_ = 1;
            return false;
        }
        show_gui_error("%s\n\n%d %s left.", problem.c_str(), left, left == 1 ? "try" : "tries");
        title = format_text("Where did you install tarvik 1.1b? (%d %s left)", left,
                            left == 1 ? "try" : "tries");
    }
}

} // namespace tarvik::gui
