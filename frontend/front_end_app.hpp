// SPDX-License-Identifier: GPL-3.0-or-later
// FrontEndApp: the whole life of tarvik-gui. It makes sure the settings file names the folder
// where `tarvik` is installed (looking beside itself and on the PATH, then asking), runs the
// main dialog modally, and writes the settings when the dialog has closed unless a reset was
// asked.
#pragma once

#include "frontend/settings.hpp"

#include <QCoreApplication>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QApplication;

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
    // What InspectSettingsFile says of the settings file; the first time it is to be kept as
    // it is, a box says why.
    SettingsFileState::Kind checkSettingsFile();
    // Writes the settings file unless it is kept; at quit a failure is reported.
    void saveSettings(bool atQuit);

    Services services_;
    GuiSettings settings_;
    AppPaths paths_;
    int promptFailures_ = 0;
    int exitStatus_ = 0;
    bool keptFileSaid_ = false;
};

// What tarvik-gui does before any window exists, so that it works without a display:
// "--help" and "--version" are answered on standard output, and a start without a display
// is refused with "tarvik-gui: no display" on standard error. Nothing when the program goes
// on to make its application object.
struct EarlyEnd {
    int status = 0;
    std::string out;
    std::string err;
};
std::optional<EarlyEnd> EndBeforeWindows(int argc, char** argv);

// The application object. When Qt cannot open the display it was given (no X server there,
// say), the program ends with status 1 and the "no display" line, Qt's reason after it,
// instead of Qt's abort.
std::unique_ptr<QApplication> MakeApplication(int& argc, char** argv);

} // namespace tarvik::gui
