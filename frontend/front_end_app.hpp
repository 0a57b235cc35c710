// SPDX-License-Identifier: GPL-3.0-or-later
// FrontEndApp: the whole life of tarvik-gui. It makes sure the settings file names the folder
// where `tarvik` is installed (looking beside itself and on the PATH, then asking), runs the
// main dialog modally, and writes the settings when the dialog has closed unless a reset was
// asked.
#pragma once

#include "frontend/settings.hpp"

#include <QCoreApplication>

#include <functional>
#include <string>

namespace tarvik::gui {

class MainDialog;
class FolderChooser;
class Launcher;

class FrontEndApp {
    Q_DECLARE_TR_FUNCTIONS(FrontEndApp)
  public:
    struct Services {
        FolderChooser* folders = nullptr;
        Launcher* launcher = nullptr;
        std::string exeDir;                         // the front end's own folder
        std::string searchPath;                     // PATH-style list searched for tarvik
        std::function<void(MainDialog&)> whenShown; // called once the dialog runs (optional)
    };

    explicit FrontEndApp(Services services);

    // Runs the start-up sequence, the dialog and the shutdown; returns the program's exit
    // status: 1 when no encoder was found in three tries, else 0.
    int run();

    static constexpr int kMaxPromptFailures = 3;

  private:
    // Whether the encoder is known at the end: found near, or its folder chosen.
    bool findOrAskForEncoder(bool keepSettings);
    bool askForEncoderFolder();

    Services services_;
    GuiSettings settings_;
    AppPaths paths_;
    int promptFailures_ = 0;
    int exitStatus_ = 0;
};

} // namespace tarvik::gui
