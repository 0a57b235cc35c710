#include "frontend/main_dlg.hpp"

#include "frontend/folder_picker.hpp"
#include "frontend/gui_box.hpp"
#include "frontend/launch.hpp"
#include "ui_main_dlg.h"

#include "common/paths.hpp"
#include "common/text.hpp"

#include <QAbstractButton>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>

#include <cstdio>

namespace tarvik::gui {

int CMainDlg::noClickAsked = 0;

namespace {
constexpr const char* kInvalidCustomBitrate =
    "Invalid custom bit rate specified. Valid values are:\n\n- For MPEG-1 (sampling frequencies of "
    "32, 44.1 and 48 kHz):\n|-> 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320\n\n- "
    "For MPEG-2 and MPEG-2.5 (sampling frequencies of 8, 11.025, 12, 16, 22.05 and 24 kHz):\n|-> "
    "8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160\n\ntarvik will reprocess your value "
    "if necessary, so don't get stunned by those numbers ;)\nJust remember that the medium value "
    "for MPEG-1 is 128kps and for MPEG-2/MPEG-2.5 80kbps,\nwhich corresponds to a good CD quality";

constexpr const char* kNoClickQuestion =
    "tarvik sometimes appends a \"click\" sound to the end of produced *mono* MP3s\nI don't have "
    "any explanation for that as this is not a generality\n\nIf you were to experience this "
    "trouble, isolate the WAVs affected by this symptom\nin the same directory and encode them "
    "with this check box checked. Because using\nthis \"medicine\" on unaffected WAVs would likely "
    "slightly shorten their length\n(small cut at the end) ..\n\nAre you still that sure about "
    "using this fix?";

constexpr const char* kResetNotice =
    "Program's configuration will be reset when you quit it\n\nClick this button again to undo "
    "your choice";

BoxAnswer dialog_box(BoxIcon icon, const std::string& text, BoxButtons buttons = BoxButtons::Ok) {
    return CurrentMessageBoxes().Show({icon, kGuiCaption, text, buttons, true});
}

QString from_path(const std::string& path) {
    return QFile::decodeName(path.c_str());
}
} // namespace

CMainDlg::CMainDlg(GuiSettings& settings, AppPaths& paths, FolderChooser& folders,
                   Launcher& launcher, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::CMainDlgForm>()), settings_(settings),
      paths_(paths), folders_(folders), launcher_(launcher),
      parser_(std::make_unique<TokenParser>()) {
    ui_->setupUi(this);
    // A fixed-size window with a minimise box and no maximise box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    ui_->customBitrateEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[0-9]{0,3}"), ui_->customBitrateEdit));

    connect(ui_->closeButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui_->selectInputButton, &QPushButton::clicked, this, [this] { OnSelectFolder(true); });
    connect(ui_->selectOutputButton, &QPushButton::clicked, this,
            [this] { OnSelectFolder(false); });
    connect(ui_->resetInputButton, &QPushButton::clicked, this, [this] { OnResetFolder(true); });
    connect(ui_->resetOutputButton, &QPushButton::clicked, this, [this] { OnResetFolder(false); });
    for (const int id : {ControlId::Low, ControlId::Default, ControlId::High, ControlId::Custom})
        connect(static_cast<QAbstractButton*>(Control(id)), &QAbstractButton::clicked, this,
                [this, id] { OnQuality(id); });
    for (const int id : {ControlId::Vlp, ControlId::DeleteWavs, ControlId::Vbr, ControlId::Silent,
                         ControlId::NoClick})
        connect(static_cast<QAbstractButton*>(Control(id)), &QAbstractButton::clicked, this,
                [this, id] { OnOption(id); });
    connect(ui_->customBitrateEdit, &QLineEdit::textChanged, this,
            [this] { OnCustomBitrateChanged(); });
    connect(ui_->vbrSlider, &QSlider::valueChanged, this, [this](int pos) { OnTrackbar(pos); });
    connect(ui_->goButton, &QPushButton::clicked, this, [this] { OnGo(); });
    connect(ui_->deleteConfigButton, &QPushButton::clicked, this, [this] { OnDeleteConfig(); });
    runTimer_.setInterval(250);
    connect(&runTimer_, &QTimer::timeout, this, [this] { OnRunPoll(); });

    OnInitDialog();
}

CMainDlg::~CMainDlg() = default;

QWidget* CMainDlg::Control(int id) const {
    for (QWidget* w : findChildren<QWidget*>()) {
        const QVariant v = w->property("templateId");
        if (v.isValid() && v.toInt() == id) return w;
    }
    return nullptr;
}

void CMainDlg::OnInitDialog() {
    ui_->buildDateText->setText(
        QString::fromStdString(format_text("Build date: %s %s", __DATE__, __TIME__)));
    parser_->Load(paths_.settingsPath);

    ReadFolderSettings(*parser_, settings_);
    ShowFolder(ControlId::InputFolder, settings_.inputFolder);
    ShowFolder(ControlId::OutputFolder, settings_.outputFolder);

    ReadQualitySettings(*parser_, settings_);
    ui_->lowRadio->setText(
        QString::fromStdString(format_text("&Low (%d kbps)", settings_.lowBitrate)));
    ui_->defaultRadio->setText(
        QString::fromStdString(format_text("&Default (%d kbps)", settings_.defaultBitrate)));
    ui_->highRadio->setText(
        QString::fromStdString(format_text("&High (%d kbps)", settings_.highBitrate)));
    ui_->customBitrateEdit->setMaxLength(3);
    ShowQuality();
    if (settings_.customBitrate != -1)
        ui_->customBitrateEdit->setText(QString::number(settings_.customBitrate));

    ReadOptionSettings(*parser_, settings_);
    if (settings_.vbrValue >= 0) lastVbrValue_ = settings_.vbrValue;
    {
        const QSignalBlocker quiet(ui_->vbrSlider);
        ui_->vbrSlider->setRange(0, 9);
        ui_->vbrSlider->setValue(0);
    }
    ShowOptions();

    ReadSilentMode(*parser_, settings_);
    ShowSilentMode();
    ReadNoClick(*parser_, settings_);
    ShowNoClick();

    settings_.resetOnExit = false;
    UpdateGoButton();
    ui_->selectInputButton->setFocus();
}

void CMainDlg::ShowFolder(int editId, const std::string& folder) {
    auto* edit = static_cast<QLineEdit*>(Control(editId));
    edit->setText(folder.empty() ? QStringLiteral("n/a") : from_path(folder));
}

void CMainDlg::ShowQuality() {
    ui_->lowRadio->setChecked(settings_.qualityLow);
    ui_->defaultRadio->setChecked(settings_.qualityDefault);
    ui_->highRadio->setChecked(settings_.qualityHigh);
    ui_->customRadio->setChecked(settings_.qualityCustom);
    // The typed value stays in the field (and in customBitrate) whichever quality is chosen.
    ui_->customBitrateEdit->setEnabled(settings_.qualityCustom);
    if (focusCustomEdit_) ui_->customBitrateEdit->setFocus();
}

void CMainDlg::ShowOptions() {
    ui_->vlpCheck->setChecked(settings_.generateVlp);
    ui_->deleteWavsCheck->setChecked(settings_.deleteWavs);
    ui_->vbrCheck->setChecked(settings_.useVbr);
    const QSignalBlocker quiet(ui_->vbrSlider);
    if (settings_.useVbr) {
        ui_->vbrSlider->setEnabled(true);
        if (focusTrackbar_) ui_->vbrSlider->setFocus();
        ui_->vbrValueText->setEnabled(true);
        if (settings_.vbrValue == -1) settings_.vbrValue = lastVbrValue_;
    } else {
        ui_->vbrSlider->setEnabled(false);
        ui_->vbrValueText->setEnabled(false);
        settings_.vbrValue = -1;
        ui_->vbrSlider->setValue(0);
    }
    ui_->vbrSlider->setValue(settings_.vbrValue == -1 ? 0 : settings_.vbrValue);
    ui_->vbrValueText->setText(QString::number(settings_.vbrValue));
}

void CMainDlg::ShowSilentMode() {
    ui_->silentCheck->setChecked(settings_.silentMode);
}

void CMainDlg::ShowNoClick() {
    ui_->noClickCheck->setChecked(settings_.noClick);
}

bool CMainDlg::UpdateGoButton() {
    const bool has_wavs = FolderHasWavs(settings_.inputFolder);
    ui_->goButton->setEnabled(!RunUnderWay() && has_wavs);
    return has_wavs;
}

void CMainDlg::keyPressEvent(QKeyEvent* event) {
    // Enter presses the push button that has the focus, except "&Close": it never closes the
    // dialog (a custom bit rate is typed and confirmed with Enter).
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        auto* button = qobject_cast<QPushButton*>(focusWidget());
        if (button && button != ui_->closeButton && button->isEnabled()) button->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CMainDlg::changeEvent(QEvent* event) {
    // Back from elsewhere (a file manager, a finished run): the input folder may have changed.
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) UpdateGoButton();
    QDialog::changeEvent(event);
}

void CMainDlg::OnSelectFolder(bool input) {
    const std::string title = input
                                  ? "Select the directory containing WAV files you wish to encode:"
                                  : "Select the destination directory for produced MP3 files:";
    std::string& folder = input ? settings_.inputFolder : settings_.outputFolder;
    const auto chosen = folders_.Choose(this, title, folder);
    if (!chosen) return;
    if (!FolderStorable(*chosen)) {
        show_gui_error("This folder cannot be kept in \"%s\":\n\"%s\"\n\nFolder names holding ';', "
                       "a line break or \"#eof\", beginning or ending with a blank, or longer than "
                       "256 bytes cannot be read back from it. Please choose another folder.",
                       kSettingsFileName, chosen->c_str());
        return;
    }
    folder = *chosen;
    ShowFolder(input ? ControlId::InputFolder : ControlId::OutputFolder, folder);
    if (input) UpdateGoButton();
}

void CMainDlg::OnResetFolder(bool input) {
    if (input) {
        settings_.inputFolder.clear();
        ShowFolder(ControlId::InputFolder, settings_.inputFolder);
        UpdateGoButton();
    } else {
        settings_.outputFolder.clear();
        ShowFolder(ControlId::OutputFolder, settings_.outputFolder);
    }
}

void CMainDlg::OnQuality(int id) {
    settings_.qualityLow = id == ControlId::Low;
    settings_.qualityDefault = id == ControlId::Default;
    settings_.qualityHigh = id == ControlId::High;
    settings_.qualityCustom = id == ControlId::Custom;
    focusCustomEdit_ = id == ControlId::Custom;
    ShowQuality();
}

void CMainDlg::OnCustomBitrateChanged() {
    const std::string text = ui_->customBitrateEdit->text().left(3).toStdString();
    const auto value = static_cast<int32_t>(parse_leading_int(text));
    settings_.customBitrate = IsValidBitrate(value) ? value : -1;
}

void CMainDlg::OnOption(int id) {
    switch (id) {
    case ControlId::Vlp:
        settings_.generateVlp = !settings_.generateVlp;
        focusTrackbar_ = false;
        ShowOptions();
        break;
    case ControlId::DeleteWavs:
        settings_.deleteWavs = !settings_.deleteWavs;
        focusTrackbar_ = false;
        ShowOptions();
        break;
    case ControlId::Vbr:
        settings_.useVbr = !settings_.useVbr;
        focusTrackbar_ = true;
        ShowOptions();
        break;
    case ControlId::Silent:
        settings_.silentMode = !settings_.silentMode;
        ShowSilentMode();
        break;
    case ControlId::NoClick:
        settings_.noClick = !settings_.noClick;
        ShowNoClick();
        break;
    default:
        break;
    }
}

void CMainDlg::OnTrackbar(int position) {
    settings_.vbrValue = position;
    lastVbrValue_ = position;
    ui_->vbrValueText->setText(QString::number(settings_.vbrValue));
}

void CMainDlg::OnDeleteConfig() {
    settings_.resetOnExit = !settings_.resetOnExit;
    std::remove(paths_.settingsPath.c_str());
    if (settings_.resetOnExit) dialog_box(BoxIcon::Information, kResetNotice);
}

void CMainDlg::OnGo() {
    if (!UpdateGoButton()) {
        show_gui_error("There is no WAV file in \"%s\" any more.", settings_.inputFolder.c_str());
        return;
    }
    const auto bitrate = SelectedBitrate(settings_);
    if (!bitrate) {
        dialog_box(BoxIcon::Error, kInvalidCustomBitrate);
        settings_.customBitrate = -1;
        return;
    }
    bool noClick = false;
    if (settings_.noClick) {
        if (noClickAsked != 0) {
            noClick = true;
        } else {
            noClickAsked = 1;
            noClick =
                dialog_box(BoxIcon::Question, kNoClickQuestion, BoxButtons::YesNo) != BoxAnswer::No;
            // A No unticks the option, so what is shown is what runs.
            settings_.noClick = noClick;
            ShowNoClick();
        }
    }
    LaunchRequest request;
    request.program = paths_.encoderPath;
    request.arguments = BatchArguments(settings_, *bitrate, noClick);
    request.workingDir = dir_part(paths_.encoderPath).value_or("");
    if (request.workingDir.empty()) request.workingDir = "/";
    request.silent = settings_.silentMode;
    request.title = BatchTitle(settings_.inputFolder);
    lastCommandText_ = CommandText(request.program, request.arguments);
    switch (launcher_.Start(request)) {
    case LaunchResult::Started:
        if (launcher_.Watching()) {
            // Watched until it ends; closing the dialog leaves it running.
            runTimer_.start();
            ui_->goButton->setText(QStringLiteral("Running..."));
            UpdateGoButton();
        }
        break;
    case LaunchResult::Missing:
        show_gui_error("Cannot start tarvik: \"%s\" is not there any more.\nIf it was moved, "
                       "restart tarvik-gui to choose its new folder.",
                       request.program.c_str());
        break;
    case LaunchResult::NotExecutable:
        show_gui_error("Cannot start tarvik: \"%s\" is not an executable program.",
                       request.program.c_str());
        break;
    case LaunchResult::Failed:
        show_gui_error("Cannot start tarvik! Make sure it is not being used.");
        break;
    }
}

void CMainDlg::OnRunPoll() {
    const auto end = launcher_.PollSilentRun();
    if (!end) return;
    runTimer_.stop();
    ui_->goButton->setText(QStringLiteral("&Go!"));
    UpdateGoButton();
    if (const std::string text = BatchEndText(*end); !text.empty())
        dialog_box(end->exitStatus == 0 ? BoxIcon::Warning : BoxIcon::Error, text);
}

} // namespace tarvik::gui
