// The front end's dialog, folder picker, message boxes and start-up sequence, driven
// offscreen with the launcher, the folder box and the message boxes replaced by stand-ins.
#include "frontend/folder_picker.hpp"
#include "frontend/front_end_app.hpp"
#include "frontend/main_dlg.hpp"
#include "frontend/qt_boxes.hpp"
#include "tests/frontend_qt_support.hpp"
#include "tests/support/test_support.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>
#include <sys/stat.h>

using namespace tarvik::gui;
using namespace tarvik::gui::test;
using tarvik::test::TempDir;
using Args = std::vector<std::string>;

namespace {

// A folder layout for one test: a stand-in encoder, a folder of WAVs (a capital letter and a
// blank in its name), an empty folder, an output folder and a settings file naming them.
struct Env {
    TempDir dir;
    std::string encoderDir = dir / "enc";
    std::string wavDir = dir / "Voice Lines";
    std::string emptyDir = dir / "empty";
    std::string outDir = dir / "out";
    GuiSettings settings;
    AppPaths paths;
    ScriptedFolders folders;
    RecordingLauncher launcher;
    ScriptedBoxes boxes;

    explicit Env(const std::string& extraSettings = "", bool writeSettings = true) {
        for (const auto& d : {encoderDir, wavDir, emptyDir, outDir}) ::mkdir(d.c_str(), 0755);
        tarvik::test::write_file(encoderDir + "/tarvik", "#!/bin/sh\n");
        ::chmod((encoderDir + "/tarvik").c_str(), 0755);
        tarvik::test::write_file(wavDir + "/Line01.wav", "RIFF");
        paths = {dir / "tarvik-gui.ini", encoderDir + "/tarvik"};
        if (writeSettings)
            tarvik::test::write_file(paths.settingsPath,
                                     "$tarvik folder: " + encoderDir + "\n$last input folder: " + wavDir +
                                         "\n$last output folder: " + outDir + "\n" + extraSettings);
        SetMessageBoxes(&boxes);
    }
    ~Env() { SetMessageBoxes(nullptr); }

    std::unique_ptr<CMainDlg> dialog() {
        return std::make_unique<CMainDlg>(settings, paths, folders, launcher);
    }
    CFrontEndApp::Services services(std::function<void(CMainDlg&)> whenShown = {}) {
        CFrontEndApp::Services s;
        s.folders = &folders;
        s.launcher = &launcher;
        s.exeDir = dir.path();
        s.whenShown = std::move(whenShown);
        return s;
    }
    std::string settingsText() const { return tarvik::test::read_file(paths.settingsPath); }
    bool settingsExist() const { return tarvik::test::exists(paths.settingsPath); }
};

QAbstractButton* button(CMainDlg& d, int id) { return qobject_cast<QAbstractButton*>(d.Control(id)); }
QString text_of(CMainDlg& d, int id) {
    QWidget* w = d.Control(id);
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
    return {};
}
QSlider* slider(CMainDlg& d) { return qobject_cast<QSlider*>(d.Control(ControlId::Trackbar)); }
QLineEdit* custom_edit(CMainDlg& d) { return qobject_cast<QLineEdit*>(d.Control(ControlId::CustomBitrate)); }

// Runs `act` on the modal widget once one is up (used around exec() calls).
void when_modal(std::function<void(QWidget*)> act) {
    auto* timer = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, act, tries] {
        QWidget* w = QApplication::activeModalWidget();
        if (!w && ++*tries < 500) return;
        timer->stop();
        timer->deleteLater();
        act(w);
    });
    timer->start(10);
}

const char* kInvalidStart = "Invalid custom bit rate specified. Valid values are:\n\n- For MPEG-1";

} // namespace

class DialogTest : public QObject {
    Q_OBJECT
private slots:
    void init() { CMainDlg::noClickAsked = 0; }

    void templateControlsCaptionsAndTabOrder() {
        Env env;
        auto d = env.dialog();
        QCOMPARE(d->windowTitle(), QString("tarvik's gui 1.0b"));
        QCOMPARE(d->property("templateId").toInt(), kDialogTemplateId);
        const std::vector<std::pair<int, QString>> captions = {
            {ControlId::Close, "&Close"},
            {ControlId::SelectInput, "Select &Input Directory..."},
            {ControlId::SelectOutput, "Select &Output Directory..."},
            {ControlId::QualityGroup, "Quality"},
            {ControlId::Low, "&Low (56 kbps)"},
            {ControlId::Default, "&Default (128 kbps)"},
            {ControlId::High, "&High (256 kbps)"},
            {ControlId::OptionsGroup, "Options"},
            {ControlId::Vlp, "Generate &VLPs"},
            {ControlId::DeleteWavs, "Delete &WAVs"},
            {ControlId::Vbr, "VBR &Efficiency"},
            {ControlId::VbrValue, "-1"},
            {ControlId::Go, "&Go!"},
            {ControlId::Custom, "Cus&tom"},
            {ControlId::CustomBitrate, ""},
            {ControlId::Kbps, "kbps"},
            {ControlId::ResetInput, "&Reset"},
            {ControlId::ResetOutput, "Re&set"},
            {ControlId::Silent, "Silent &Mode"},
            {ControlId::NoClick, "&Fix \"Click!\" Sound (if any)"},
            {ControlId::DeleteConfig, "&Delete Config File"},
        };
        for (const auto& [id, caption] : captions) QCOMPARE(text_of(*d, id), caption);
        QVERIFY(text_of(*d, ControlId::BuildDate).startsWith("Build date: "));
        QVERIFY(!text_of(*d, ControlId::Credit).isEmpty());

        // Keyboard order follows the template.
        const std::vector<int> tabOrder = {8,    1002, 1003, 1006, 1007, 1008, 1009, 1010, 1011, 1014,
                                           1016, 1017, 1018, 1012, 1021, 1023, 1024, 1013, 1020, 1025};
        std::vector<int> seen;
        QWidget* w = d->Control(ControlId::Close);
        do {
            if ((w->focusPolicy() & Qt::TabFocus) && w->property("templateId").isValid())
                seen.push_back(w->property("templateId").toInt());
            w = w->nextInFocusChain();
        } while (w != d->Control(ControlId::Close));
        QCOMPARE(seen, tabOrder);

        // Dialog units scaled by 1.75 across and 1.875 down.
        QCOMPARE(d->size(), QSize(718, 352));
        QCOMPARE(d->Control(ControlId::Go)->geometry(), QRect(222, 128, 136, 101));
        QCOMPARE(slider(*d)->minimum(), 0);
        QCOMPARE(slider(*d)->maximum(), 9);
        QVERIFY(slider(*d)->tickPosition() != QSlider::NoTicks);
        QCOMPARE(custom_edit(*d)->maxLength(), 3);
        QVERIFY(qobject_cast<QLineEdit*>(d->Control(ControlId::InputFolder))->isReadOnly());
        QVERIFY(qobject_cast<QLineEdit*>(d->Control(ControlId::OutputFolder))->isReadOnly());
    }

    void defaultPresetWithoutOptions() {
        Env env;
        auto d = env.dialog();
        QVERIFY(d->Control(ControlId::Go)->isEnabled());
        button(*d, ControlId::Go)->click();
        QCOMPARE(env.launcher.started.size(), size_t(1));
        const LaunchRequest& r = env.launcher.started[0];
        QCOMPARE(r.program, env.encoderDir + "/tarvik");
        QCOMPARE(r.arguments, (Args{"-batch", "-brate", "128", env.wavDir, env.outDir}));
        QCOMPARE(r.workingDir, env.encoderDir);
        QVERIFY(!r.silent);
        QCOMPARE(d->LastCommandText(), env.encoderDir + "/tarvik -batch -brate 128 '" + env.wavDir + "' " +
                                           env.outDir);
        QVERIFY(env.boxes.shown.empty());
    }

    void vbrSevenWithHighAndOtherOptions() {
        Env env;
        auto d = env.dialog();
        button(*d, ControlId::High)->click();
        button(*d, ControlId::Vbr)->click();
        slider(*d)->setValue(7);
        button(*d, ControlId::Go)->click();
        button(*d, ControlId::Vlp)->click();
        button(*d, ControlId::DeleteWavs)->click();
        button(*d, ControlId::Silent)->click();
        button(*d, ControlId::ResetOutput)->click();
        QCOMPARE(text_of(*d, ControlId::OutputFolder), QString("n/a"));
        button(*d, ControlId::Go)->click();
        QCOMPARE(env.launcher.started.size(), size_t(2));
        QCOMPARE(env.launcher.started[0].arguments,
                 (Args{"-batch", "-vbr", "7", "-brate", "256", env.wavDir, env.outDir}));
        QCOMPARE(env.launcher.started[1].arguments,
                 (Args{"-batch", "-lips", "-rem", "-vbr", "7", "-brate", "256", env.wavDir}));
        QVERIFY(env.launcher.started[1].silent);
    }

    void customBitRate() {
        Env env;
        auto d = env.dialog();
        QVERIFY(!custom_edit(*d)->isEnabled());
        button(*d, ControlId::Custom)->click();
        QVERIFY(custom_edit(*d)->isEnabled());

        // Empty, then 100: refused with the message, nothing started.
        for (const char* typed : {"", "100"}) {
            custom_edit(*d)->clear();
            QTest::keyClicks(custom_edit(*d), typed);
            button(*d, ControlId::Go)->click();
            QVERIFY(env.launcher.started.empty());
            QCOMPARE(env.settings.customBitrate, -1);
        }
        QCOMPARE(env.boxes.shown.size(), size_t(2));
        for (const auto& box : env.boxes.shown) {
            QVERIFY(box.text.rfind(kInvalidStart, 0) == 0);
            QVERIFY(box.text.find("which corresponds to a good CD quality") != std::string::npos);
            QCOMPARE(box.icon, BoxIcon::Error);
            QCOMPARE(box.caption, std::string("tarvik's gui 1.0b"));
            QVERIFY(box.ownedByDialog);
        }

        custom_edit(*d)->clear();
        QTest::keyClicks(custom_edit(*d), "144");
        QCOMPARE(env.settings.customBitrate, 144);
        button(*d, ControlId::Go)->click();
        QCOMPARE(env.launcher.started.size(), size_t(1));
        QCOMPARE(env.launcher.started[0].arguments, (Args{"-batch", "-brate", "144", env.wavDir, env.outDir}));

        // Choosing Custom again starts from an empty field.
        button(*d, ControlId::Custom)->click();
        QCOMPARE(custom_edit(*d)->text(), QString());
        QCOMPARE(env.settings.customBitrate, -1);
        // Digits only, three at most.
        QTest::keyClicks(custom_edit(*d), "1a2b89");
        QCOMPARE(custom_edit(*d)->text(), QString("128"));
        QCOMPARE(env.settings.customBitrate, 128);
        button(*d, ControlId::Low)->click();
        QVERIFY(!custom_edit(*d)->isEnabled());
        QCOMPARE(env.settings.customBitrate, -1);
    }

    void noClickQuestionIsAskedOnce() {
        Env env;
        auto d = env.dialog();
        button(*d, ControlId::NoClick)->click();
        QVERIFY(env.settings.noClick);
        env.boxes.answers = {BoxAnswer::No};
        button(*d, ControlId::Go)->click();
        button(*d, ControlId::Go)->click();
        QCOMPARE(env.boxes.shown.size(), size_t(1));
        const BoxRequest& q = env.boxes.shown[0];
        QCOMPARE(q.icon, BoxIcon::Question);
        QCOMPARE(q.buttons, BoxButtons::YesNo);
        QVERIFY(q.ownedByDialog);
        QVERIFY(q.text.rfind("tarvik sometimes appends a \"click\" sound", 0) == 0);
        QVERIFY(q.text.find("Are you still that sure about using this fix?") != std::string::npos);
        QCOMPARE(env.launcher.started.size(), size_t(2));
        QCOMPARE(env.launcher.started[0].arguments, (Args{"-batch", "-brate", "128", env.wavDir, env.outDir}));
        QCOMPARE(env.launcher.started[1].arguments,
                 (Args{"-batch", "-brate", "128", "-noclick", env.wavDir, env.outDir}));

        // A Yes keeps the switch in the first launch too.
        CMainDlg::noClickAsked = 0;
        env.launcher.started.clear();
        button(*d, ControlId::Go)->click();
        QCOMPARE(env.boxes.shown.size(), size_t(2));
        QCOMPARE(env.launcher.started[0].arguments[3], std::string("-noclick"));
    }

    void vbrSwitchAndTrackbar() {
        Env env;
        auto d = env.dialog();
        QVERIFY(!slider(*d)->isEnabled());
        QVERIFY(!d->Control(ControlId::VbrValue)->isEnabled());
        QCOMPARE(text_of(*d, ControlId::VbrValue), QString("-1"));

        button(*d, ControlId::Vbr)->click();
        QVERIFY(slider(*d)->isEnabled());
        QVERIFY(d->Control(ControlId::VbrValue)->isEnabled());
        QCOMPARE(text_of(*d, ControlId::VbrValue), QString("0"));
        QCOMPARE(slider(*d)->value(), 0);
        QCOMPARE(env.settings.vbrValue, 0);

        slider(*d)->setValue(9);
        QCOMPARE(env.settings.vbrValue, 9);
        QCOMPARE(text_of(*d, ControlId::VbrValue), QString("9"));

        button(*d, ControlId::Vbr)->click();
        QCOMPARE(env.settings.vbrValue, -1);
        QCOMPARE(text_of(*d, ControlId::VbrValue), QString("-1"));
        QCOMPARE(slider(*d)->value(), 0);

        // VBR on in the file without a value starts at 0.
        Env env2("$last option vbr: yes\n");
        auto d2 = env2.dialog();
        QCOMPARE(text_of(*d2, ControlId::VbrValue), QString("0"));
        QCOMPARE(env2.settings.vbrValue, 0);
        QVERIFY(slider(*d2)->isEnabled());
    }

    void deleteConfigOnceAndTwice() {
        Env env;
        auto d = env.dialog();
        button(*d, ControlId::DeleteConfig)->click();
        QVERIFY(!env.settingsExist());
        QVERIFY(env.settings.resetOnExit);
        QCOMPARE(env.boxes.shown.size(), size_t(1));
        QCOMPARE(env.boxes.shown[0].text, std::string("Program's configuration will be reset when you quit "
                                                      "it\n\nClick this button again to undo your choice"));
        QCOMPARE(env.boxes.shown[0].icon, BoxIcon::Information);
        button(*d, ControlId::DeleteConfig)->click();
        QVERIFY(!env.settings.resetOnExit);
        QCOMPARE(env.boxes.shown.size(), size_t(1));
    }

    void goNeedsWavsAndFoldersAreChosen() {
        Env env("", false);
        tarvik::test::write_file(env.paths.settingsPath,
                                 "$tarvik folder: " + env.encoderDir + "\n$last input folder: " + env.emptyDir + "\n");
        auto d = env.dialog();
        QCOMPARE(text_of(*d, ControlId::InputFolder), QString("n/a"));
        QVERIFY(!d->Control(ControlId::Go)->isEnabled());

        // Cancel changes nothing; a folder of WAVs enables "&Go!".
        env.folders.answers = {std::nullopt, env.wavDir};
        button(*d, ControlId::SelectInput)->click();
        QVERIFY(!d->Control(ControlId::Go)->isEnabled());
        button(*d, ControlId::SelectInput)->click();
        QVERIFY(d->Control(ControlId::Go)->isEnabled());
        QCOMPARE(env.settings.inputFolder, env.wavDir);
        QCOMPARE(text_of(*d, ControlId::InputFolder), QString::fromStdString(env.wavDir).toLower());
        QCOMPARE(env.folders.asked[1].title,
                 std::string("Select the directory containing WAV files you wish to encode:"));
        QVERIFY(env.folders.asked[1].owned);

        // The output box opens at the current output folder; it does not touch "&Go!".
        env.folders.answers = {env.emptyDir};
        button(*d, ControlId::ResetInput)->click();
        QVERIFY(!d->Control(ControlId::Go)->isEnabled());
        QCOMPARE(text_of(*d, ControlId::InputFolder), QString("n/a"));
        button(*d, ControlId::SelectOutput)->click();
        QCOMPARE(env.folders.asked.back().title,
                 std::string("Select the destination directory for produced MP3 files:"));
        QCOMPARE(env.settings.outputFolder, env.emptyDir);
        QVERIFY(!d->Control(ControlId::Go)->isEnabled());

        // A name the settings file could not hold is refused.
        env.folders.answers = {env.dir / "a;b"};
        button(*d, ControlId::SelectOutput)->click();
        QCOMPARE(env.folders.asked.back().initial, env.emptyDir);
        QCOMPARE(env.settings.outputFolder, env.emptyDir);
        QCOMPARE(env.boxes.shown.size(), size_t(1));
        QVERIFY(env.boxes.shown[0].text.find("a;b") != std::string::npos);
    }

    void launchFailureIsReported() {
        Env env;
        env.launcher.result = false;
        auto d = env.dialog();
        button(*d, ControlId::Go)->click();
        QCOMPARE(env.boxes.shown.size(), size_t(1));
        QCOMPARE(env.boxes.shown[0].text, std::string("************ ERROR ************\nCannot start tarvik! "
                                                      "Make sure it is not being used.\n"));
        QVERIFY(!env.boxes.shown[0].ownedByDialog);
    }

    void settingsWrittenInEveryWayOfClosing() {
        const std::vector<std::pair<const char*, std::function<void(CMainDlg&)>>> ways = {
            {"Close", [](CMainDlg& d) { button(d, ControlId::Close)->click(); }},
            {"Escape", [](CMainDlg& d) { QTest::keyClick(&d, Qt::Key_Escape); }},
            {"Enter on a check box", [](CMainDlg& d) {
                 d.Control(ControlId::Silent)->setFocus();
                 QTest::keyClick(d.Control(ControlId::Silent), Qt::Key_Return);
             }},
            {"close box", [](CMainDlg& d) { d.close(); }},
        };
        for (const auto& [name, close] : ways) {
            Env env;
            CFrontEndApp app(env.services([&close = close](CMainDlg& d) {
                button(d, ControlId::Vlp)->click();
                button(d, ControlId::Vbr)->click();
                slider(d)->setValue(9);
                close(d);
            }));
            QVERIFY(!app.InitInstance());
            QVERIFY2(app.DialogShown(), name);
            const std::string text = env.settingsText();
            QVERIFY2(text.find("$last option vlp:\tyes\n") != std::string::npos, name);
            QVERIFY2(text.find("$last vbr value:\t9\n") != std::string::npos, name);
            QVERIFY2(text.find("$last input folder: " + env.wavDir + "\n") != std::string::npos, name);
        }
    }

    void enterOnAPushButtonPressesIt() {
        Env env;
        CFrontEndApp app(env.services([](CMainDlg& d) {
            d.Control(ControlId::Go)->setFocus();
            QTest::keyClick(d.Control(ControlId::Go), Qt::Key_Return);
            QVERIFY(d.isVisible());
            d.reject();
        }));
        app.InitInstance();
        QCOMPARE(env.launcher.started.size(), size_t(1));
    }

    void resetAtExit() {
        {
            Env env;
            CFrontEndApp app(env.services([](CMainDlg& d) {
                button(d, ControlId::DeleteConfig)->click();
                d.reject();
            }));
            app.InitInstance();
            QVERIFY(!env.settingsExist());
            // The next start asks for the encoder's folder again.
            CFrontEndApp next(env.services());
            next.InitInstance();
            QCOMPARE(env.folders.asked.size(), size_t(1));
            QCOMPARE(env.folders.asked[0].title, std::string("Where did you install tarvik 1.1b?"));
            QVERIFY(!next.DialogShown());
        }
        {
            Env env;
            CFrontEndApp app(env.services([](CMainDlg& d) {
                button(d, ControlId::DeleteConfig)->click();
                button(d, ControlId::DeleteConfig)->click();
                d.reject();
            }));
            app.InitInstance();
            QVERIFY(env.settingsExist());
        }
    }

    void firstStartAsksForTheEncoder() {
        Env env("", false);
        env.folders.answers = {env.encoderDir + "/"};
        std::string writtenBeforeDialog;
        CFrontEndApp app(env.services([&](CMainDlg& d) {
            writtenBeforeDialog = env.settingsText();
            d.reject();
        }));
        app.InitInstance();
        QVERIFY(app.DialogShown());
        QCOMPARE(env.folders.asked.size(), size_t(1));
        QVERIFY(!env.folders.asked[0].owned);
        QCOMPARE(env.folders.asked[0].initial, std::string());
        QCOMPARE(app.Paths().encoderPath, env.encoderDir + "/tarvik"); // no doubled separator
        QVERIFY(env.boxes.shown.empty());
        for (const char* line : {"$silent mode:\t\tno\n", "$low bitrate:\t\t56\n", "$default bitrate:\t128\n",
                                 "$high bitrate:\t\t256\n", "$last input folder: \n", "$last output folder: \n",
                                 "$last quality:\t\tdefault\n", "$last option vlp:\tno\n",
                                 "$last vbr value:\t-1\n", "$no click:\t\tno\t\n"})
            QVERIFY2(writtenBeforeDialog.find(line) != std::string::npos, line);
        QVERIFY(writtenBeforeDialog.find("$tarvik folder: " + env.encoderDir + "\n") != std::string::npos);
    }

    void settingsFileWithoutTheKey() {
        Env env("", false);
        tarvik::test::write_file(env.paths.settingsPath, "$silent mode: yes\n");
        CFrontEndApp app(env.services());
        app.InitInstance();
        QCOMPARE(env.boxes.shown.size(), size_t(1));
        QCOMPARE(env.boxes.shown[0].text,
                 std::string("************ ERROR ************\nPossible reasons:\n- Missing token token in "
                             "\"tarvik-gui.ini\": \"$tarvik folder:\"\n- File not found: \"\"\n"));
        QCOMPARE(env.folders.asked.size(), size_t(1)); // the prompt, cancelled
        QVERIFY(!env.settingsExist());
        QVERIFY(!app.DialogShown());
    }

    void settingsFileNamingAFolderWithoutTheEncoder() {
        Env env("", false);
        tarvik::test::write_file(env.paths.settingsPath, "$tarvik folder: " + env.emptyDir + "\n");
        CFrontEndApp app(env.services());
        app.InitInstance();
        QCOMPARE(env.boxes.shown.size(), size_t(1));
        QVERIFY(env.boxes.shown[0].text.find("- File not found: \"" + env.emptyDir + "/tarvik\"") !=
                std::string::npos);
        QVERIFY(!env.settingsExist()); // gone although the prompt was cancelled
    }

    void threeWrongFoldersEndTheProgram() {
        Env env("", false);
        env.folders.answers = {env.emptyDir, env.wavDir, env.outDir, env.encoderDir};
        CFrontEndApp app(env.services());
        app.InitInstance();
        QCOMPARE(env.folders.asked.size(), size_t(3));
        QCOMPARE(env.boxes.shown.size(), size_t(3));
        QCOMPARE(env.boxes.shown[2].text,
                 "************ ERROR ************\nFile not found: \"" + env.outDir + "/tarvik\"\n");
        QCOMPARE(app.PromptFailures(), 3);
        QVERIFY(!env.settingsExist());
        QVERIFY(!app.DialogShown());
    }

    void wrongFolderThenTheRightOne() {
        Env env("", false);
        env.folders.answers = {env.emptyDir, env.encoderDir};
        CFrontEndApp app(env.services([](CMainDlg& d) { d.reject(); }));
        app.InitInstance();
        QCOMPARE(env.boxes.shown.size(), size_t(1));
        QVERIFY(app.DialogShown());
        QVERIFY(env.settingsExist());
    }

    void desktopMessageBoxes() {
        // The box the console encoder asks for.
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        when_modal([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            QVERIFY(box);
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            box->accept();
        });
        QByteArray a0("tarvik-gui"), a1("--message-box"), a2("information"), a3("tarvik 1.1b"),
            a4("<b>2 files</b> converted\n");
        char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data(), a4.data()};
        QCOMPARE(RunMessageBoxOption(5, argv), 0);
        QCOMPARE(title, QString("tarvik 1.1b"));
        QCOMPARE(text, QString("<b>2 files</b> converted\n"));
        QCOMPARE(icon, QMessageBox::Information);
        QByteArray bad("sparkles");
        argv[2] = bad.data();
        QCOMPARE(RunMessageBoxOption(5, argv), 2);
        QCOMPARE(RunMessageBoxOption(4, argv), 2);

        // The front end's own question, answered No.
        QtMessageBoxes boxes;
        when_modal([](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            QVERIFY(box);
            QCOMPARE(box->textFormat(), Qt::PlainText);
            QCOMPARE(box->icon(), QMessageBox::Question);
            box->button(QMessageBox::No)->click();
        });
        QCOMPARE(boxes.Show({BoxIcon::Question, kGuiCaption, "Sure?", BoxButtons::YesNo, false}), BoxAnswer::No);
    }

    void folderPickerOpensAtTheInitialFolder() {
        TempDir dir;
        QString opened;
        when_modal([&](QWidget* w) {
            auto* box = qobject_cast<QFileDialog*>(w);
            QVERIFY(box);
            opened = box->directory().absolutePath();
            QCOMPARE(box->fileMode(), QFileDialog::Directory);
            static_cast<QDialog*>(box)->accept();
        });
        CFolderPicker picker(nullptr, "Where did you install tarvik 1.1b?", dir.path());
        QVERIFY(picker.Show());
        QCOMPARE(opened, QString::fromStdString(dir.path()));
        QCOMPARE(picker.Result(), std::optional<std::string>(dir.path()));

        when_modal([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
        CFolderPicker cancelled(nullptr, "title", dir.path());
        QVERIFY(!cancelled.Show());
        QVERIFY(!cancelled.Result());
    }

    // With TARVIK_GUI_SCREENSHOT=<file.png> set, saves a picture of the dialog there.
    void screenshot() {
        const QByteArray target = qgetenv("TARVIK_GUI_SCREENSHOT");
        if (target.isEmpty()) QSKIP("TARVIK_GUI_SCREENSHOT not set");
        Env env("$last option vbr: yes\n$last vbr value: 4\n$last option vlp: yes\n");
        auto d = env.dialog();
        d->show();
        QVERIFY(QTest::qWaitForWindowExposed(d.get()));
        QVERIFY(d->grab().save(QString::fromLocal8Bit(target)));
    }
};

QTEST_MAIN(DialogTest)
#include "frontend_dialog_test.moc"
