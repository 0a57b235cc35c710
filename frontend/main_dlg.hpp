// CMainDlg: the front end's dialog (template 102). It shows the settings record, lets the
// user change it, and on "&Go!" starts the encoder in batch mode with the command line
// built from it. The record and the paths belong to the application; the dialog edits them.
#pragma once

#include "frontend/settings.hpp"
#include "frontend/token_parser.hpp"

#include <QDialog>
#include <QTimer>

#include <memory>
#include <string>

namespace Ui {
class CMainDlgForm;
}

namespace tarvik::gui {

class FolderChooser;
class Launcher;

// The template's control ids; every control carries its id as the property "templateId".
namespace ControlId {
enum : int {
    Close = 8,
    BuildDate = 1000,
    SelectInput = 1002,
    SelectOutput = 1003,
    QualityGroup = 1004,
    OptionsGroup = 1005,
    Low = 1006,
    Default = 1007,
    High = 1008,
    Vlp = 1009,
    DeleteWavs = 1010,
    Vbr = 1011,
    Custom = 1012,
    Silent = 1013,
    Trackbar = 1014,
    VbrValue = 1015,
    InputFolder = 1016,
    OutputFolder = 1017,
    Go = 1018,
    Credit = 1019,
    NoClick = 1020,
    CustomBitrate = 1021,
    Kbps = 1022,
    ResetInput = 1023,
    ResetOutput = 1024,
    DeleteConfig = 1025,
};
} // namespace ControlId

inline constexpr int kDialogTemplateId = 102;

class CMainDlg : public QDialog {
    Q_OBJECT
  public:
    // Builds the dialog and initialises it from the settings file at paths.settingsPath.
    CMainDlg(GuiSettings& settings, AppPaths& paths, FolderChooser& folders, Launcher& launcher,
             QWidget* parent = nullptr);
    ~CMainDlg() override;

    // The control with a template id (nullptr when there is none).
    QWidget* Control(int id) const;
    // The last command line started or attempted, shell-quoted, for display.
    const std::string& LastCommandText() const { return lastCommandText_; }

    // Times the no-click question was put in this process; it is put only while 0.
    static int noClickAsked;

    void ShowQuality();
    void ShowOptions();
    void ShowSilentMode();
    void ShowNoClick();
    // Enables Go! when no run is under way and the input folder holds WAVs; whether it does.
    bool UpdateGoButton();
    // Whether a silent run started from this dialog is still going.
    bool RunUnderWay() const { return runTimer_.isActive(); }

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void OnInitDialog();
    void ShowFolder(int editId, const std::string& folder);
    void OnSelectFolder(bool input);
    void OnResetFolder(bool input);
    void OnQuality(int id);
    void OnCustomBitrateChanged();
    void OnOption(int id);
    void OnTrackbar(int position);
    void OnDeleteConfig();
    void OnGo();
    void OnRunPoll();

    std::unique_ptr<Ui::CMainDlgForm> ui_;
    GuiSettings& settings_;
    AppPaths& paths_;
    FolderChooser& folders_;
    Launcher& launcher_;
    std::unique_ptr<TokenParser> parser_;
    bool focusTrackbar_ = false;
    bool focusCustomEdit_ = false;
    int32_t lastVbrValue_ = 0; // restored when VBR is switched on again
    QTimer runTimer_;          // watches a silent run while it goes
    std::string lastCommandText_;
};

} // namespace tarvik::gui
