#include "frontend/front_end_app.hpp"

#include "frontend/folder_picker.hpp"
#include "frontend/gui_box.hpp"
#include "frontend/main_dlg.hpp"

#include "common/paths.hpp"

#include <QTimer>

#include <cstdio>

namespace tarvik::gui {

CFrontEndApp::CFrontEndApp(Services services) : services_(std::move(services)) {}

bool CFrontEndApp::InitInstance() {
    SetDefaultSettings(settings_);

    if (MakeSettingsPath(paths_, services_.exeDir)) {
        if (!LocateEncoder(paths_)) {
            show_gui_error("Possible reasons:\n- Missing token token in \"%s\": \"$tarvik folder:\"\n"
                           "- File not found: \"%s\"",
                           file_part(paths_.settingsPath).value_or("").c_str(),
                           paths_.encoderPath.c_str());
            // Straight on to the prompt even if the file cannot be removed, so a file that
            // resists deletion cannot trap the start-up in a loop.
            std::remove(paths_.settingsPath.c_str());
            if (!AskForEncoderFolder()) return false;
        }
    } else if (!AskForEncoderFolder()) {
        return false;
    }

    CMainDlg dlg(settings_, paths_, *services_.folders, *services_.launcher);
    dialogShown_ = true;
    if (services_.whenShown) {
        QTimer::singleShot(0, &dlg, [this, &dlg] { services_.whenShown(dlg); });
    }
    dlg.exec();
    if (!settings_.resetOnExit) WriteSettings(settings_, paths_);
    return false;
}

bool CFrontEndApp::AskForEncoderFolder() {
    for (;;) {
        const auto folder =
            services_.folders->Choose(nullptr, "Where did you install tarvik 1.1b?", std::string());
        if (!folder) return false;
        paths_.encoderPath = EncoderPathIn(*folder);
        if (IsEncoderAt(paths_.encoderPath)) {
            if (!FolderStorable(*folder)) {
                // The next start could not read this folder back; ask for another.
                show_gui_error("This folder cannot be kept in \"%s\":\n\"%s\"\n\nFolder names "
                               "holding ';', a line break, the byte 0x80 or \"#eof\", beginning or "
                               "ending with a blank, or longer than 256 characters cannot be read "
                               "back from it. Please move tarvik to another folder.",
                               kSettingsFileName, folder->c_str());
                continue;
            }
            WriteSettings(settings_, paths_);
            return true;
        }
        show_gui_error("File not found: \"%s\"", paths_.encoderPath.c_str());
        if (++promptFailures_ >= kMaxPromptFailures) return false;
    }
}

} // namespace tarvik::gui
