// SPDX-License-Identifier: GPL-3.0-or-later
#include "frontend/main_dialog.hpp"

#include "frontend/folder_picker.hpp"
#include "frontend/gui_box.hpp"
#include "frontend/launch.hpp"
#include "frontend/qt_boxes.hpp"
#include "frontend/results_file.hpp"
#include "ui_main_dialog.h"

#include "common/mpeg.hpp"
#include "common/paths.hpp"
#include "common/text.hpp"
#include "common/version.hpp"
#include "encoder/output_dir.hpp"
#include "platform/files.hpp"

#include <QAbstractItemView>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QSignalBlocker>

#include <utility>

namespace tarvik::gui {

namespace {
BoxAnswer dialog_box(BoxIcon icon, const QString& text, BoxButtons buttons = BoxButtons::Ok) {
    return CurrentMessageBoxes().Show({icon, kGuiCaption, text.toStdString(), buttons, true});
}
} // namespace

QString MainDialog::folderNotStorable(const std::string& folder, const QString& advice) {
    return tr("This folder cannot be kept in \"%1\":\n\"%2\"\n\nFolder names holding ';', a line "
              "break or \"#eof\", beginning or ending with a blank, or longer than %3 bytes "
              "cannot be read back from it. %4")
        .arg(kSettingsFileName, text_of(folder), QString::number(TokenParser::kMaxValue), advice);
}

MainDialog::MainDialog(GuiSettings& settings, AppPaths& paths, FolderChooser& folders,
                       Launcher& launcher, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::MainDialog>()), settings_(settings), paths_(paths),
      folders_(folders), launcher_(launcher) {
    ui_->setupUi(this);
    setWindowTitle(kGuiCaption);
    // The layouts let the window grow and shrink; it can be minimised and maximised.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    // It opens at the size of the .ui unless the screen is smaller.
    resize(size().boundedTo(screen()->availableSize()));
    ui_->versionText->setText(tr("Version %1").arg(kVersion));
    keepConfig_ = {ui_->deleteConfigButton->text(), ui_->deleteConfigButton->toolTip()};
    // The folders are elided to the width they get, so they follow the window's size.
    ui_->inputFolderText->installEventFilter(this);
    ui_->outputFolderText->installEventFilter(this);
    ui_->customBitrateEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[0-9]{0,3}"), ui_->customBitrateEdit));
    ui_->customBitrateEdit->setToolTip(
        tr("Bit rate in kbps, e.g. 128 (MPEG-1: %1 to %2; MPEG-2: %3 to %4)")
            .arg(QString::number(kMpeg1Kbps.front()), QString::number(kMpeg1Kbps.back()),
                 QString::number(kMpeg2Kbps.front()), QString::number(kMpeg2Kbps.back())));

    connect(ui_->closeButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui_->selectInputButton, &QPushButton::clicked, this, [this] { chooseFolder(true); });
    connect(ui_->selectOutputButton, &QPushButton::clicked, this, [this] { chooseFolder(false); });
    connect(ui_->resetInputButton, &QPushButton::clicked, this, [this] { resetFolder(true); });
    connect(ui_->resetOutputButton, &QPushButton::clicked, this, [this] { resetFolder(false); });
    qualityButtons_.addButton(ui_->lowRadio, static_cast<int>(Quality::Low));
    qualityButtons_.addButton(ui_->defaultRadio, static_cast<int>(Quality::Default));
    qualityButtons_.addButton(ui_->highRadio, static_cast<int>(Quality::High));
    qualityButtons_.addButton(ui_->customRadio, static_cast<int>(Quality::Custom));
    connect(&qualityButtons_, &QButtonGroup::idClicked, this,
            [this](int id) { chooseQuality(static_cast<Quality>(id)); });
    connect(ui_->customBitrateEdit, &QLineEdit::textChanged, this, [this] { takeCustomBitrate(); });
    for (const auto& [box, option] :
         {std::pair{ui_->vlpCheck, &GuiSettings::generateVlp},
          std::pair{ui_->deleteWavsCheck, &GuiSettings::deleteWavs},
          std::pair{ui_->vbrCheck, &GuiSettings::useVbr},
          std::pair{ui_->silentCheck, &GuiSettings::silentMode},
          std::pair{ui_->noClickCheck, &GuiSettings::noClick},
          std::pair{ui_->treeCheck, &GuiSettings::recurse},
          std::pair{ui_->updateCheck, &GuiSettings::update},
          std::pair{ui_->loudnessCheck, &GuiSettings::normalizeLoudness}})
        connect(box, &QCheckBox::clicked, this, [this, option] { toggleOption(option); });
    // The languages of the lip-sync tool beside tarvik; without its list the field takes any code.
    languages_ = lipsync_languages(dir_part(paths_.encoderPath).value_or("")).value_or(languages_);
    for (const LipsyncLanguage& l : languages_)
        ui_->languageCombo->addItem(tr("%1 \u2013 %2").arg(text_of(l.code), text_of(l.description)),
                                    text_of(l.code));
    // The list opens wide enough for its longest entry, wider than the field.
    ui_->languageCombo->view()->setMinimumWidth(ui_->languageCombo->view()->sizeHintForColumn(0));
    connect(ui_->languageCombo, &QComboBox::currentTextChanged, this,
            [this](const QString& text) { takeLanguage(text); });
    ui_->loudnessSpin->setRange(kMinLoudnessTarget, kMaxLoudnessTarget);
    connect(ui_->loudnessSpin, &QSpinBox::valueChanged, this,
            [this](int value) { settings_.loudnessTarget = value; });
    ui_->progressBar->hide();
    connect(ui_->vbrSlider, &QSlider::valueChanged, this, [this](int pos) { setVbrValue(pos); });
    connect(ui_->goButton, &QPushButton::clicked, this, [this] { go(); });
    connect(ui_->deleteConfigButton, &QPushButton::toggled, this,
            [this](bool checked) { setConfigReset(checked); });
    runTimer_.setInterval(250);
    connect(&runTimer_, &QTimer::timeout, this, [this] { pollRun(); });

    loadSettings();
}

MainDialog::~MainDialog() = default;

void MainDialog::loadSettings() {
    TokenParser parser;
    parser.Load(paths_.settingsPath);
    ReadAllSettings(parser, settings_);

    showFolder(true);
    showFolder(false);
    ui_->lowRadio->setText(tr("&Low (%1 kbps)").arg(settings_.lowBitrate));
    ui_->defaultRadio->setText(tr("&Default (%1 kbps)").arg(settings_.defaultBitrate));
    ui_->highRadio->setText(tr("&High (%1 kbps)").arg(settings_.highBitrate));
    showQuality();
    if (settings_.customBitrate != -1)
        ui_->customBitrateEdit->setText(QString::number(settings_.customBitrate));
    if (settings_.vbrValue >= 0) lastVbrValue_ = settings_.vbrValue;
    showOptions();
    showSwitches();
    showLanguage();

    settings_.resetOnExit = false;
    ui_->deleteConfigButton->setChecked(false);
    updateGoButton();
    ui_->selectInputButton->setFocus();
}

void MainDialog::showFolder(bool input) {
    const std::string& folder = input ? settings_.inputFolder : settings_.outputFolder;
    QLabel* label = input ? ui_->inputFolderText : ui_->outputFolderText;
    const QString name = QFile::decodeName(folder.c_str());
    label->setToolTip(name);
    label->setText(folder.empty() ? tr("n/a")
                                  : label->fontMetrics().elidedText(name, Qt::ElideMiddle,
                                                                    label->contentsRect().width() -
                                                                        2 * label->margin()));
}

bool MainDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize) showFolder(watched == ui_->inputFolderText);
    return QDialog::eventFilter(watched, event);
}

void MainDialog::showQuality() {
    qualityButtons_.button(static_cast<int>(settings_.quality))->setChecked(true);
    // The group has one tab stop, which Qt gives to a preset as it takes the focus: here it
    // goes to the checked one, so that Tab lands on it whatever checked it.
    for (QAbstractButton* button : qualityButtons_.buttons()) {
        const int policy = button->focusPolicy();
        button->setFocusPolicy(
            Qt::FocusPolicy(button->isChecked() ? policy | Qt::TabFocus : policy & ~Qt::TabFocus));
    }
    // The typed value stays in the field (and in customBitrate) whichever quality is chosen.
    ui_->customBitrateEdit->setEnabled(settings_.quality == Quality::Custom);
    if (focusCustomEdit_) ui_->customBitrateEdit->setFocus();
}

void MainDialog::showOptions() {
    ui_->vlpCheck->setChecked(settings_.generateVlp);
    ui_->languageCombo->setEnabled(settings_.generateVlp);
    ui_->deleteWavsCheck->setChecked(settings_.deleteWavs);
    ui_->vbrCheck->setChecked(settings_.useVbr);
    const QSignalBlocker quiet(ui_->vbrSlider);
    ui_->vbrSlider->setEnabled(settings_.useVbr);
    ui_->vbrValueText->setEnabled(settings_.useVbr);
    if (settings_.useVbr) {
        if (focusTrackbar_) ui_->vbrSlider->setFocus();
        if (settings_.vbrValue == -1) settings_.vbrValue = lastVbrValue_;
    } else {
        settings_.vbrValue = -1;
    }
    ui_->vbrSlider->setValue(settings_.vbrValue == -1 ? 0 : settings_.vbrValue);
    ui_->vbrValueText->setText(QString::number(settings_.vbrValue));
}

void MainDialog::showLanguage() {
    const QSignalBlocker quiet(ui_->languageCombo);
    const QString code = text_of(settings_.lipsLanguage);
    if (const int at = ui_->languageCombo->findData(code); at >= 0)
        ui_->languageCombo->setCurrentIndex(at);
    else
        ui_->languageCombo->setEditText(code);
    ui_->languageCombo->lineEdit()->setCursorPosition(0); // the code first, where it is cut
}

void MainDialog::takeLanguage(const QString& text) {
    const int at = ui_->languageCombo->findText(text);
    std::string code =
        (at >= 0 ? ui_->languageCombo->itemData(at).toString() : text.trimmed()).toStdString();
    if (const LipsyncLanguage* known = find_language(languages_, code)) code = known->code;
    settings_.lipsLanguage = code;
}

void MainDialog::showSwitches() {
    ui_->silentCheck->setChecked(settings_.silentMode);
    ui_->noClickCheck->setChecked(settings_.noClick);
    ui_->treeCheck->setChecked(settings_.recurse);
    ui_->updateCheck->setChecked(settings_.update);
    ui_->loudnessCheck->setChecked(settings_.normalizeLoudness);
    ui_->loudnessSpin->setValue(settings_.loudnessTarget);
    ui_->loudnessSpin->setEnabled(settings_.normalizeLoudness);
}

bool MainDialog::updateGoButton() {
    const bool hasWavs = FolderHasWavs(settings_.inputFolder, settings_.recurse);
    ui_->goButton->setEnabled(!runUnderWay() && hasWavs);
    return hasWavs;
}

void MainDialog::keyPressEvent(QKeyEvent* event) {
    // Enter presses the push button that has the focus, except "&Close": it never closes the
    // dialog (a custom bit rate is typed and confirmed with Enter).
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        auto* button = qobject_cast<QPushButton*>(focusWidget());
        if (button && button != ui_->closeButton && button->isEnabled()) button->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void MainDialog::changeEvent(QEvent* event) {
    // Back from elsewhere (a file manager, a finished run): the input folder may have changed.
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) updateGoButton();
    QDialog::changeEvent(event);
}

void MainDialog::chooseFolder(bool input) {
    const QString title = input
                              ? tr("Select the directory containing WAV files you wish to encode:")
                              : tr("Select the destination directory for produced MP3 files:");
    std::string& folder = input ? settings_.inputFolder : settings_.outputFolder;
    const auto chosen = folders_.choose(this, title, folder);
    if (!chosen) return;
    if (!FolderStorable(*chosen)) {
        show_error(folderNotStorable(*chosen, tr("Please choose another folder.")));
        return;
    }
    if (!input && output_dir_acceptable(*chosen) != OutputDir::Ready) {
        show_error(tr("tarvik cannot write into this folder:\n\"%1\"\n\ntarvik refuses an output "
                      "folder whose name holds a double quote (\"). Please choose another folder.")
                       .arg(text_of(*chosen)));
        return;
    }
    folder = *chosen;
    showFolder(input);
    if (input) updateGoButton();
}

void MainDialog::resetFolder(bool input) {
    (input ? settings_.inputFolder : settings_.outputFolder).clear();
    showFolder(input);
    if (input) updateGoButton();
}

void MainDialog::chooseQuality(Quality quality) {
    settings_.quality = quality;
    focusCustomEdit_ = quality == Quality::Custom;
    showQuality();
}

void MainDialog::takeCustomBitrate() {
    const std::string text = ui_->customBitrateEdit->text().left(3).toStdString();
    const auto value = static_cast<int32_t>(parse_leading_int(text));
    settings_.customBitrate = IsValidBitrate(value) ? value : -1;
}

void MainDialog::toggleOption(bool GuiSettings::*option) {
    settings_.*option = !(settings_.*option);
    if (option == &GuiSettings::recurse) updateGoButton(); // a tree may hold WAVs below only
    if (option != &GuiSettings::generateVlp && option != &GuiSettings::deleteWavs &&
        option != &GuiSettings::useVbr) {
        showSwitches();
        return;
    }
    // The row of VBR: the focus goes to the slider only after the VBR box itself.
    focusTrackbar_ = option == &GuiSettings::useVbr;
    showOptions();
}

void MainDialog::setVbrValue(int value) {
    settings_.vbrValue = value;
    lastVbrValue_ = value;
    ui_->vbrValueText->setText(QString::number(settings_.vbrValue));
}

void MainDialog::setConfigReset(bool reset) {
    settings_.resetOnExit = reset;
    ui_->deleteConfigButton->setText(reset ? tr("Co&nfig Deleted at Quit") : keepConfig_.first);
    ui_->deleteConfigButton->setToolTip(
        reset ? tr("The settings file will be deleted when you quit (press again to keep it)")
              : keepConfig_.second);
    if (reset)
        dialog_box(BoxIcon::Information, tr("Program's configuration will be reset when you quit "
                                            "it\n\nClick this button again to undo your choice"));
}

void MainDialog::done(int result) {
    // The application then writes no settings, so none are left.
    if (settings_.resetOnExit) platform::remove_file(paths_.settingsPath);
    QDialog::done(result);
}

bool MainDialog::confirmNoClick() {
    if (std::exchange(noClickAsked_, true)) return true;
    const bool yes =
        dialog_box(BoxIcon::Question,
                   tr("tarvik sometimes appends a \"click\" sound to the end of produced *mono* "
                      "MP3s\nI don't have any explanation for that as this is not a generality\n\n"
                      "If you were to experience this trouble, isolate the WAVs affected by this "
                      "symptom\nin the same directory and encode them with this check box "
                      "checked. Because using\nthis \"medicine\" on unaffected WAVs would likely "
                      "slightly shorten their length\n(small cut at the end) ..\n\nAre you still "
                      "that sure about using this fix?"),
                   BoxButtons::YesNo) != BoxAnswer::No;
    // A No unticks the option, so what is shown is what runs.
    settings_.noClick = yes;
    ui_->noClickCheck->setChecked(yes);
    return yes;
}

void MainDialog::go() {
    if (!updateGoButton()) {
        show_error(
            tr("There is no WAV file in \"%1\" any more.").arg(text_of(settings_.inputFolder)));
        return;
    }
    const auto bitrate = SelectedBitrate(settings_);
    if (!bitrate) {
        dialog_box(
            BoxIcon::Error,
            tr("Invalid custom bit rate specified. Valid values are:\n\n- For MPEG-1 (sampling "
               "frequencies of %1 kHz):\n|-> %2\n\n- For MPEG-2 and MPEG-2.5 (sampling "
               "frequencies of %3 kHz):\n|-> %4\n\ntarvik will reprocess your value if "
               "necessary, so don't get stunned by those numbers ;)\nJust remember that the "
               "medium value for MPEG-1 is 128kps and for MPEG-2/MPEG-2.5 80kbps,\nwhich "
               "corresponds to a good CD quality")
                .arg(text_of(KhzList(true, tr(" and ").toStdString())), text_of(KbpsList(true)),
                     text_of(KhzList(false, tr(" and ").toStdString())), text_of(KbpsList(false))));
        settings_.customBitrate = -1;
        return;
    }
    const bool noClick = settings_.noClick && confirmNoClick();
    LaunchRequest request;
    request.program = paths_.encoderPath;
    request.arguments = BatchArguments(settings_, *bitrate, noClick);
    // A silent run tells its progress and its failures through a results file.
    results_.reset();
    if (settings_.silentMode) {
        results_ = std::make_unique<ResultsFile>();
        if (results_->Create())
            request.arguments.insert(request.arguments.begin() + 1, // after -batch
                                     {"-json", QFile::encodeName(results_->Path()).toStdString()});
        else
            results_.reset();
    }
    request.workingDir = dir_part(paths_.encoderPath).value_or("");
    if (request.workingDir.empty()) request.workingDir = "/";
    request.silent = settings_.silentMode;
    request.title = BatchTitle(settings_.inputFolder);
    lastCommandText_ = CommandText(request.program, request.arguments);
    switch (launcher_.Start(request)) {
    case LaunchResult::Started:
        if (launcher_.Watching()) {
            // Watched until it ends; closing the dialog leaves it running.
            runResults_ = {};
            ui_->progressBar->setVisible(results_ != nullptr);
            ui_->progressBar->setRange(0, 0); // busy, until the run says how many files it takes
            runTimer_.start();
            ui_->goButton->setText(tr("Running..."));
            updateGoButton();
        }
        break;
    case LaunchResult::Missing:
        show_error(tr("Cannot start tarvik: \"%1\" is not there any more.\nIf it was moved, "
                      "restart tarvik-gui to choose its new folder.")
                       .arg(text_of(request.program)));
        break;
    case LaunchResult::NotExecutable:
        show_error(tr("Cannot start tarvik: \"%1\" is not an executable program.")
                       .arg(text_of(request.program)));
        break;
    case LaunchResult::Failed:
        show_error(tr("Cannot start tarvik! Make sure it is not being used."));
        break;
    }
}

std::string MainDialog::resultsPath() const {
    return results_ ? QFile::encodeName(results_->Path()).toStdString() : std::string();
}

void MainDialog::readResults() {
    if (!results_) return;
    results_->Read(runResults_);
    if (!runResults_.total) return;
    ui_->progressBar->setRange(0, static_cast<int>(*runResults_.total));
    ui_->progressBar->setValue(static_cast<int>(runResults_.done));
}

void MainDialog::pollRun() {
    const RunState run = launcher_.PollRun();
    readResults();
    if (!run.ended) return;
    runTimer_.stop();
    if (!runResults_.total) ui_->progressBar->hide(); // it never said how many files it takes
    ui_->goButton->setText(tr("&Go!"));
    updateGoButton();
    if (!run.silentEnd) return;
    if (const std::string text = BatchEndText(*run.silentEnd, runResults_); !text.empty())
        dialog_box(run.silentEnd->exitStatus == 0 ? BoxIcon::Warning : BoxIcon::Error,
                   text_of(text));
}

} // namespace tarvik::gui
