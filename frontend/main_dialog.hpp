// SPDX-License-Identifier: GPL-3.0-or-later
// MainDialog: the front end's window. It shows the settings record, lets the user change it,
// and on "&Go!" starts the encoder in batch mode with the command line built from it. The
// record and the paths belong to the application; the dialog edits them.
#pragma once

#include "encoder/lipsync_languages.hpp"
#include "frontend/launch.hpp"
#include "frontend/settings.hpp"

#include <QButtonGroup>
#include <QDialog>
#include <QTimer>

#include <memory>
#include <string>

namespace Ui {
class MainDialog;
}

namespace tarvik::gui {

class FolderChooser;
class Launcher;
class ResultsFile;

class MainDialog : public QDialog {
    Q_OBJECT
  public:
    // Builds the dialog and loads the record from the settings file at paths.settingsPath.
    MainDialog(GuiSettings& settings, AppPaths& paths, FolderChooser& folders, Launcher& launcher,
               QWidget* parent = nullptr);
    ~MainDialog() override;

    // The last command line started or attempted, shell-quoted, for display.
    const std::string& lastCommandText() const { return lastCommandText_; }
    // The results file of the silent run under way, or of the last one; empty without one.
    std::string resultsPath() const;
    // Whether a run started from this dialog is still going (in a terminal: its window).
    bool runUnderWay() const { return runTimer_.isActive(); }
    // The box text for a folder the settings file cannot keep, ending with `advice`.
    static QString folderNotStorable(const std::string& folder, const QString& advice);

    // Ends the dialog; the settings file is deleted then when its reset was asked for.
    void done(int result) override;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void loadSettings();
    void showFolder(bool input);
    void showQuality();
    void showOptions();
    // The language field: the setting's entry of the list, or its code as text. (showOptions
    // enables it with lip-sync.)
    void showLanguage();
    // The code the field's text stands for: a listed entry's, a listed code or name typed, or
    // the text as typed.
    void takeLanguage(const QString& text);
    // The check boxes that only switch their option, and the loudness target's box.
    void showSwitches();
    // Enables Go! when no run is under way and the input folder holds WAVs; whether it does.
    bool updateGoButton();
    void chooseFolder(bool input);
    void resetFolder(bool input);
    void chooseQuality(Quality quality);
    void takeCustomBitrate();
    void toggleOption(bool GuiSettings::*option);
    void setVbrValue(int value);
    // The config button's state: the settings file deleted at quit, or kept.
    void setConfigReset(bool reset);
    void go();
    // Whether the no-click fix is to run: the first time it is asked (Yes) and remembered.
    bool confirmNoClick();
    void pollRun();
    // Reads what the silent run's results file has added, and shows its progress.
    void readResults();

    std::unique_ptr<Ui::MainDialog> ui_;
    std::vector<LipsyncLanguage> languages_; // the lip-sync tool's list; empty without one
    QButtonGroup qualityButtons_;            // ids are Quality values
    GuiSettings& settings_;
    AppPaths& paths_;
    FolderChooser& folders_;
    Launcher& launcher_;
    bool focusTrackbar_ = false;
    bool focusCustomEdit_ = false;
    bool noClickAsked_ = false;            // the no-click question is put once in the dialog's life
    int32_t lastVbrValue_ = 0;             // restored when VBR is switched on again
    QTimer runTimer_;                      // watches a run while it goes
    std::unique_ptr<ResultsFile> results_; // a silent run's results file
    RunResults runResults_;                // ... and what it said so far
    std::string lastCommandText_;
    std::pair<QString, QString> keepConfig_; // the config button's caption and tooltip unchecked
};

} // namespace tarvik::gui
