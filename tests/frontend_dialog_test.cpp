// The dialog and the start-up sequence, offscreen, with the folder box, the message boxes and
// the launcher replaced by stand-ins that answer from a script.
#include "frontend/folder_picker.hpp"
#include "frontend/front_end_app.hpp"
#include "frontend/gui_box.hpp"
#include "frontend/launch.hpp"
#include "frontend/main_dlg.hpp"
#include "tests/support/test_support.hpp"

#include <QAbstractButton>
#include <QLineEdit>
#include <QSlider>
#include <QtTest>

#include <deque>
#include <filesystem>
#include <set>

using namespace tarvik::gui;
using tarvik::test::read_file;
using tarvik::test::write_file;
using Args = std::vector<std::string>;

namespace {
struct Boxes final : MessageBoxes {
    std::vector<BoxRequest> shown;
    std::deque<BoxAnswer> answers; // then Yes (or Ok)
    BoxAnswer Show(const BoxRequest& r) override {
        shown.push_back(r);
        BoxAnswer a = r.buttons == BoxButtons::YesNo ? BoxAnswer::Yes : BoxAnswer::Ok;
        if (!answers.empty()) a = answers.front(), answers.pop_front();
        return a;
    }
};
struct Folders final : FolderChooser {
    std::vector<std::string> titles, initial;
    std::deque<std::string> answers; // then cancelled
    std::optional<std::string> Choose(QWidget*, const std::string& t,
                                      const std::string& i) override {
        titles.push_back(t), initial.push_back(i);
        if (answers.empty()) return std::nullopt;
        std::string a = answers.front();
        answers.pop_front();
        return a;
    }
};
struct Runs final : Launcher {
    std::vector<LaunchRequest> started;
    LaunchResult result = LaunchResult::Started;
    std::optional<BatchEnd> end; // what the running silent batch reports
    LaunchResult Start(const LaunchRequest& r) override { return started.push_back(r), result; }
    std::optional<BatchEnd> PollSilentRun() override { return std::exchange(end, std::nullopt); }
};

// A stand-in encoder, a folder of WAVs, an empty folder and a settings file naming them.
struct Env {
    tarvik::test::TempDir dir;
    std::string enc = dir / "enc", wavs = dir / "Voices", empty = dir / "empty";
    GuiSettings settings;
    AppPaths paths{dir / "tarvik-gui.ini", enc + "/tarvik"};
    Folders folders;
    Runs runs;
    Boxes boxes;
    explicit Env(const std::string& settingsText = "") {
        for (const auto& d : {enc, wavs, empty})
            std::filesystem::create_directory(d);
        write_file(paths.encoderPath, "");
        std::filesystem::permissions(paths.encoderPath, std::filesystem::perms::owner_all);
        write_file(wavs + "/a.wav", "RIFF");
        write_file(paths.settingsPath, "$tarvik folder: " + enc + "\n$last input folder: " + wavs +
                                           "\n" + settingsText);
        SetMessageBoxes(&boxes);
    }
    ~Env() { SetMessageBoxes(nullptr); }
    std::unique_ptr<CMainDlg> dialog() {
        return std::make_unique<CMainDlg>(settings, paths, folders, runs);
    }
    int start(std::function<void(CMainDlg&)> act = [](CMainDlg& d) { d.reject(); }) {
        CFrontEndApp app({&folders, &runs, dir.path(), "", std::move(act)});
        app.InitInstance();
        return app.ExitStatus();
    }
};

QAbstractButton* button(CMainDlg& d, int id) {
    return qobject_cast<QAbstractButton*>(d.Control(id));
}
QLineEdit* edit(CMainDlg& d, int id) {
    return qobject_cast<QLineEdit*>(d.Control(id));
}
void press(CMainDlg& d, int id) {
    button(d, id)->click();
}
} // namespace

class DialogTest : public QObject {
    Q_OBJECT
  private slots:
    void init() { CMainDlg::noClickAsked = 0; }

    void goStartsTheBatchAsChosen() {
        Env env("$last output folder: " + std::string("/tmp") + "\n");
        auto d = env.dialog();
        press(*d, ControlId::High);
        press(*d, ControlId::Vbr);
        qobject_cast<QSlider*>(d->Control(ControlId::Trackbar))->setValue(7);
        press(*d, ControlId::Go);
        QCOMPARE(env.runs.started.at(0).arguments,
                 (Args{"-batch", "-vbr", "7", "-brate", "256", env.wavs, "/tmp"}));
        QCOMPARE(env.runs.started[0].workingDir, env.enc);
        QCOMPARE(env.runs.started[0].title, std::string("tarvik: Voices"));
        // VBR off and on again keeps the chosen efficiency.
        press(*d, ControlId::Vbr);
        press(*d, ControlId::Vbr);
        QCOMPARE(env.settings.vbrValue, 7);
    }

    void enterNeverClosesTheDialog() {
        Env env;
        QVERIFY(env.start([](CMainDlg& d) {
            press(d, ControlId::Custom);
            for (int id : {ControlId::CustomBitrate, ControlId::Silent, ControlId::Close}) {
                d.Control(id)->setFocus();
                QTest::keyClicks(d.Control(id), "128");
                QTest::keyClick(d.Control(id), Qt::Key_Return);
                QVERIFY(d.isVisible());
            }
            d.Control(ControlId::Go)->setFocus(); // on a push button Enter presses it
            QTest::keyClick(d.Control(ControlId::Go), Qt::Key_Enter);
            d.reject();
        }) == 0);
        QCOMPARE(env.runs.started.size(), size_t(1));
        QCOMPARE(env.runs.started[0].arguments, (Args{"-batch", "-brate", "128", env.wavs}));
    }

    void goRechecksTheInputFolder() {
        Env env;
        auto d = env.dialog();
        std::filesystem::remove(env.wavs + "/a.wav");
        press(*d, ControlId::Go);
        QVERIFY(env.runs.started.empty());
        QVERIFY(!d->Control(ControlId::Go)->isEnabled());
        QCOMPARE(env.boxes.shown.at(0).text.find("There is no WAV file in"), size_t(32));
        write_file(env.wavs + "/b.WAV", "RIFF");
        d->show();
        d->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(d.get()));
        QVERIFY(d->Control(ControlId::Go)->isEnabled());
    }

    void noToTheClickQuestionUnticksTheOption() {
        Env env("$no click: yes\n");
        auto d = env.dialog();
        env.boxes.answers = {BoxAnswer::No};
        press(*d, ControlId::Go);
        QVERIFY(!button(*d, ControlId::NoClick)->isChecked());
        press(*d, ControlId::Go);
        QCOMPARE(env.runs.started.at(1).arguments, (Args{"-batch", "-brate", "128", env.wavs}));
        QCOMPARE(env.boxes.shown.size(), size_t(1));
    }

    void foldersAreShownAsTheyAre() {
        Env env;
        auto d = env.dialog();
        env.folders.answers = {env.dir / "MP3 Out Ä"};
        press(*d, ControlId::SelectOutput);
        QCOMPARE(edit(*d, ControlId::OutputFolder)->text(),
                 QString::fromStdString(env.dir / "MP3 Out Ä"));
        QCOMPARE(edit(*d, ControlId::InputFolder)->text(), QString::fromStdString(env.wavs));
    }

    void customBitRateIsKeptAndSaved() {
        Env env("$last quality: custom\n");
        QCOMPARE(env.start([](CMainDlg& d) {
            QTest::keyClicks(d.Control(ControlId::CustomBitrate), "144");
            press(d, ControlId::Low);
            press(d, ControlId::Custom);
            QCOMPARE(edit(d, ControlId::CustomBitrate)->text(), QString("144"));
            d.accept();
        }),
                 0);
        QVERIFY(read_file(env.paths.settingsPath).find("$custom bitrate:\t144\n") !=
                std::string::npos);
        auto d = env.dialog();
        QCOMPARE(edit(*d, ControlId::CustomBitrate)->text(), QString("144"));
        press(*d, ControlId::Go);
        QCOMPARE(env.runs.started.at(0).arguments, (Args{"-batch", "-brate", "144", env.wavs}));
    }

    void silentRunDisablesGoUntilItEndsThenShowsItsWarnings() {
        Env env("$silent mode: yes\n");
        auto d = env.dialog();
        press(*d, ControlId::Go);
        QVERIFY(d->RunUnderWay());
        QVERIFY(!d->Control(ControlId::Go)->isEnabled());
        QCOMPARE(button(*d, ControlId::Go)->text(), QString("Running..."));
        BatchOutputReader out;
        out.Feed("WARNING! \"b.wav\" is below 10kb in size\nSkipping it...\n");
        env.runs.end = out.Finish(1);
        QTRY_VERIFY(!d->RunUnderWay());
        QVERIFY(d->Control(ControlId::Go)->isEnabled());
        QCOMPARE(env.boxes.shown.at(0).icon, BoxIcon::Error);
        QVERIFY(env.boxes.shown[0].text.find("WARNING! \"b.wav\" is below 10kb") !=
                std::string::npos);
    }

    void mnemonicsTabOrderAndTooltips() {
        Env env;
        auto d = env.dialog();
        std::set<QChar> keys;
        for (auto* b : d->findChildren<QAbstractButton*>()) {
            const qsizetype amp = b->text().indexOf('&');
            if (amp >= 0)
                QVERIFY2(keys.insert(b->text().at(amp + 1).toLower()).second,
                         qPrintable(b->text()));
            QVERIFY2(!b->toolTip().isEmpty(), qPrintable(b->text()));
        }
        QVERIFY(d->Control(ControlId::Trackbar)->toolTip().contains("0 = best quality"));
        // Tab moves through the rows top to bottom, each row left to right.
        QWidget* w = d->Control(ControlId::SelectInput);
        QRect last = w->geometry();
        for (w = w->nextInFocusChain(); w != d->Control(ControlId::Close);
             w = w->nextInFocusChain()) {
            if (!(w->focusPolicy() & Qt::TabFocus) || !w->property("templateId").isValid())
                continue;
            const QRect g = w->geometry();
            const bool sameRow = std::abs(g.center().y() - last.center().y()) < 12;
            QVERIFY2(sameRow ? g.left() > last.left()
                             : g.top() > last.top() || g.left() > last.right(),
                     qPrintable(w->objectName()));
            last = g;
        }
    }

    void launchFailuresSayWhy() {
        Env env;
        auto d = env.dialog();
        env.runs.result = LaunchResult::Missing;
        press(*d, ControlId::Go);
        env.runs.result = LaunchResult::NotExecutable;
        press(*d, ControlId::Go);
        QVERIFY(env.boxes.shown.at(0).text.find("is not there any more") != std::string::npos);
        QVERIFY(env.boxes.shown.at(1).text.find("is not an executable program") !=
                std::string::npos);
    }

    void movedEncoderIsAskedForAgainAndTheRestKept() {
        Env env("$low bitrate: 32\n$last option vlp: yes\n");
        std::filesystem::rename(env.enc, env.dir / "moved");
        env.folders.answers = {env.dir / "moved"};
        QCOMPARE(env.start(), 0);
        QCOMPARE(env.folders.initial.at(0), env.dir.path()); // the front end's own folder
        const std::string text = read_file(env.paths.settingsPath);
        for (const std::string& line :
             Args{"$tarvik folder: " + env.dir / "moved", "$low bitrate:\t\t32",
                  "$last option vlp:\tyes", "$last input folder: " + env.wavs})
            QVERIFY2(text.find(line + "\n") != std::string::npos, line.c_str());
    }

    void encoderBesideTheFrontEndIsUsedWithoutAsking() {
        Env env;
        std::filesystem::remove(env.paths.settingsPath);
        std::filesystem::copy(env.paths.encoderPath, env.dir / "tarvik");
        QCOMPARE(env.start(), 0);
        QVERIFY(env.folders.titles.empty());
        QVERIFY(
            read_file(env.paths.settingsPath).find("$tarvik folder: " + env.dir.path() + "\n") !=
            std::string::npos);
    }

    void threeWrongFoldersEndWithAReason() {
        Env env;
        std::filesystem::remove(env.paths.settingsPath);
        env.folders.answers = {env.empty, env.wavs, env.empty};
        QCOMPARE(env.start(), 1);
        QCOMPARE(env.folders.titles.at(2),
                 std::string("Where did you install tarvik 1.1b? (1 try left)"));
        QVERIFY(env.boxes.shown.at(0).text.find("2 tries left.") != std::string::npos);
        QVERIFY(env.boxes.shown.at(2).text.find("chosen in 3 tries") != std::string::npos);
        QVERIFY(!tarvik::test::exists(env.paths.settingsPath));
    }

    void unsavableSettingsAreReportedOnceAtExit() {
        Env env;
        std::filesystem::remove(env.paths.settingsPath);
        std::filesystem::create_directory(env.paths.settingsPath);
        env.folders.answers = {env.enc};
        env.start();
        QCOMPARE(env.boxes.shown.size(), size_t(2)); // the unreadable file, then once at exit
        QVERIFY(env.boxes.shown[1].text.find("could not be saved") != std::string::npos);
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
