// CFrontEndApp: the whole life of tarvik-gui. It makes sure the settings file names the
// folder where `tarvik` is installed (looking beside itself and on the PATH, then asking),
// runs the main dialog modally, and writes the settings when the dialog has closed unless
// a reset was asked.
#pragma once

#include "frontend/settings.hpp"

#include <functional>
#include <string>

namespace tarvik::gui {

class CMainDlg;
class FolderChooser;
class Launcher;

class CFrontEndApp {
  public:
    struct Services {
        FolderChooser* folders = nullptr;
        Launcher* launcher = nullptr;
        std::string exeDir;                       // the front end's own folder
        std::string searchPath;                   // PATH-style list searched for tarvik
        std::function<void(CMainDlg&)> whenShown; // called once the dialog runs (optional)
    };

    explicit CFrontEndApp(Services services);

    // Runs the start-up sequence, the dialog and the shutdown; always false, so the
    // program then ends.
    bool InitInstance();
    // The program's exit status: 1 when no encoder was found in three tries, else 0.
    int ExitStatus() const { return exitStatus_; }

    const GuiSettings& Settings() const { return settings_; }
    const AppPaths& Paths() const { return paths_; }
    int PromptFailures() const { return promptFailures_; }
    // Whether the dialog was run.
    bool DialogShown() const { return dialogShown_; }

    static constexpr int kMaxPromptFailures = 3;

  private:
    bool AskForEncoderFolder();
    bool FindOrAskForEncoder(bool keepSettings);

    Services services_;
    GuiSettings settings_;
    AppPaths paths_;
    int promptFailures_ = 0;
    bool dialogShown_ = false;
    int exitStatus_ = 0;
};

} // namespace tarvik::gui
