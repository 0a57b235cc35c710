// SPDX-License-Identifier: GPL-3.0-or-later
#include "frontend/front_end_app.hpp"

#include "frontend/folder_picker.hpp"
#include "frontend/gui_box.hpp"
#include "frontend/main_dialog.hpp"
#include "frontend/qt_boxes.hpp"

#include "common/paths.hpp"
#include "common/version.hpp"

#include <QTimer>

namespace tarvik::gui {

FrontEndApp::FrontEndApp(Services services) : services_(std::move(services)) {}

int FrontEndApp::run() {
    settings_ = GuiSettings{};
    if (!MakeSettingsPath(paths_, services_.exeDir)) {
        if (!findOrAskForEncoder(false)) return exitStatus_;
    } else if (!LocateEncoder(paths_)) {
        // The encoder was moved (or the file is damaged): find it again, keep the rest.
        if (!findOrAskForEncoder(true)) return exitStatus_;
    }

    MainDialog dialog(settings_, paths_, *services_.folders, *services_.launcher);
    if (services_.whenShown)
        QTimer::singleShot(0, &dialog, [this, &dialog] { services_.whenShown(dialog); });
    dialog.exec();
    std::string why;
    if (!settings_.resetOnExit && !WriteSettings(settings_, paths_, &why))
        show_error(tr("The settings could not be saved in \"%1\" (%2).\nThey are lost; the next "
                      "start asks for tarvik's folder again.")
                       .arg(text_of(paths_.settingsPath), text_of(why)));
    return exitStatus_;
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
        WriteSettings(settings_, paths_);
        return true;
    }
    if (keepSettings) {
        if (CheckEncoder(paths_.encoderPath) == EncoderCheck::NotExecutable)
            show_error(tr("\"%1\" is not an executable program.").arg(text_of(paths_.encoderPath)));
        else
            show_error(
                tr("Possible reasons:\n- Missing token token in \"%1\": \"$tarvik folder:\"\n"
                   "- File not found: \"%2\"")
                    .arg(text_of(file_part(paths_.settingsPath).value_or("")),
                         text_of(paths_.encoderPath)));
    }
    return askForEncoderFolder();
}

bool FrontEndApp::askForEncoderFolder() {
    const auto triesLeft = [](int left) {
        return left == 1 ? tr("1 try left") : tr("%1 tries left").arg(left);
    };
    QString title = tr("Where did you install tarvik %1?").arg(kVersion);
    for (;;) {
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
            WriteSettings(settings_, paths_);
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
        title = tr("Where did you install tarvik %1? (%2)").arg(kVersion, triesLeft(left));
    }
}

} // namespace tarvik::gui
