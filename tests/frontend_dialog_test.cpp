// SPDX-License-Identifier: GPL-3.0-or-later
// The dialog and the start-up sequence, offscreen, with the folder box, the message boxes and
// the launcher replaced by stand-ins that answer from a script.
#include "common/version.hpp"
#include "frontend/folder_picker.hpp"
#include "frontend/front_end_app.hpp"
#include "frontend/gui_box.hpp"
#include "frontend/launch.hpp"
#include "frontend/main_dialog.hpp"
#include "frontend/qt_boxes.hpp"
#include "tests/support/test_support.hpp"

#include <QAbstractButton>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QSlider>
#include <QtTest>

#include <deque>
#include <filesystem>
#include <set>

using namespace tarvik::gui;
using tarvik::test::read_file;
using tarvik::test::write_file;
using Args = std::vector<std::string>;
using ControlRow = std::array<std::string, 5>;

namespace {
struct Boxes final : MessageBoxes {
    std::vector<BoxRequest> shown;
    std::deque<BoxAnswer> answers; // then Yes (or Ok)
    BoxAnswer Show(const BoxRequest& r) override {
        shown.push_back(r);
        if (answers.empty()) return r.buttons == BoxButtons::YesNo ? BoxAnswer::Yes : BoxAnswer::Ok;
        return std::exchange(answers, {answers.begin() + 1, answers.end()}).front();
    }
    bool says(size_t i, const std::string& part) const {
        return i < shown.size() && shown[i].text.find(part) != std::string::npos;
    }
};
struct Folders final : FolderChooser {
    QStringList titles;
    Args initial;
    std::deque<std::string> answers; // then cancelled
    std::optional<std::string> choose(QWidget*, const QString& t, const std::string& i) override {
        titles.push_back(t), initial.push_back(i);
        if (answers.empty()) return std::nullopt;
        return std::exchange(answers, {answers.begin() + 1, answers.end()}).front();
    }
};
struct Runs final : Launcher {
    std::vector<LaunchRequest> started;
    LaunchResult result = LaunchResult::Started;
    std::optional<BatchEnd> end; // what the running silent batch reports
    LaunchResult Start(const LaunchRequest& r) override { return started.push_back(r), result; }
    bool Watching() const override { return started.back().silent; }
    RunState PollRun() override { return {bool(end), std::exchange(end, std::nullopt)}; }
};

// A stand-in encoder, a folder of WAVs and a settings file naming them.
struct Env {
    tarvik::test::TempDir dir;
    std::string enc = dir / "enc", wavs = dir / "Voices";
    GuiSettings settings;
    AppPaths paths{dir / "tarvik-gui.ini", enc + "/tarvik"};
    Folders folders;
    Runs runs;
    Boxes boxes;
    explicit Env(const std::string& text = "", bool withFile = true) {
        std::filesystem::create_directory(enc), std::filesystem::create_directory(wavs);
        write_file(paths.encoderPath, "");
        std::filesystem::permissions(paths.encoderPath, std::filesystem::perms::owner_all);
        write_file(wavs + "/a.wav", "RIFF");
        if (withFile)
            write_file(paths.settingsPath,
                       "$tarvik folder: " + enc + "\n$last input folder: " + wavs + "\n" + text);
        SetMessageBoxes(&boxes);
    }
    ~Env() { SetMessageBoxes(nullptr); }
    std::unique_ptr<MainDialog> dialog() {
        return std::make_unique<MainDialog>(settings, paths, folders, runs);
    }
    int start(std::function<void(MainDialog&)> act = [](MainDialog& d) { d.reject(); }) {
        return FrontEndApp({&folders, &runs, dir.path(), "", std::move(act)}).run();
    }
};

// The dialog's widgets by their names in main_dialog.ui.
const auto control = [](QDialog& d, const QString& name) { return d.findChild<QWidget*>(name); };
const auto press = [](QDialog& d, const QString& n) { d.findChild<QAbstractButton*>(n)->click(); };
} // namespace

class DialogTest : public QObject {
    Q_OBJECT
  private slots:
    void goStartsTheBatchAsChosen() {
        Env env("$last output folder: /tmp\n$no click: yes\n");
        auto d = env.dialog();
        env.boxes.answers = {BoxAnswer::No}; // the click question: a No unticks the option
        QCOMPARE(control(*d, "inputFolderText")->toolTip(),
                 QString::fromStdString(env.wavs)); // not lower-cased
        press(*d, "highRadio"), press(*d, "vbrCheck");
        qobject_cast<QSlider*>(control(*d, "vbrSlider"))->setValue(7);
        press(*d, "goButton");
        QCOMPARE(env.runs.started.at(0).arguments,
                 (Args{"-batch", "-vbr", "7", "-brate", "256", env.wavs, "/tmp"}));
        QVERIFY(env.runs.started[0].workingDir == env.enc &&
                env.runs.started[0].title == "tarvik: Voices");
        // VBR off and on again keeps the chosen efficiency.
        QVERIFY(!d->findChild<QAbstractButton*>("noClickCheck")->isChecked());
        press(*d, "vbrCheck"), press(*d, "vbrCheck");
        QCOMPARE(env.settings.vbrValue, 7);
        env.runs.result = LaunchResult::Missing, press(*d, "goButton"); // failures say why
        env.runs.result = LaunchResult::NotExecutable, press(*d, "goButton");
        env.runs.result = LaunchResult::Failed, press(*d, "goButton");
        QVERIFY(env.boxes.says(1, "is not there any more") &&
                env.boxes.says(2, "is not an executable") && env.boxes.says(3, "being used"));
        press(*d, "deleteConfigButton"); // the settings file goes at quit, not before
        QVERIFY(d->findChild<QAbstractButton*>("deleteConfigButton")->isChecked() &&
                tarvik::test::exists(env.paths.settingsPath));
    }

    // Widgets pressed (a number: typed), Go! and Close: the command started, a settings line
    // written ("": none) and the one box shown; @ the input folder, % the folder chosen, # the
    // results file of a silent run.
    void everyControlReachesTheCommandLineAndTheSettings() {
        for (const auto& [presses, chosen, command, saved, box] : std::vector<ControlRow>{
                 {"lowRadio", "", "-brate 56 @", "quality:\t\tlow", ""},
                 {"highRadio defaultRadio", "", "-brate 128 @", "quality:\t\tdefault", ""},
                 {"vlpCheck deleteWavsCheck", "", "-lips -rem -brate 128 @", "delete:\tyes", ""},
                 {"vbrCheck", "", "-vbr 0 -brate 128 @", "vbr value:\t0", ""},
                 {"vlpCheck vlpCheck silentCheck", "", "-json # -brate 128 @",
                  "silent mode:\t\tyes", ""},
                 {"treeCheck updateCheck loudnessCheck", "",
                  "-recurse -update -loudness -23 -brate 128 @", "option loudness:\tyes", ""},
                 {"noClickCheck goButton", "", "-brate 128 -noclick @", "click:\t\tyes",
                  "\"click\""},
                 {"selectOutputButton", "enc", "-brate 128 @ %", "output folder: %\n", ""},
                 {"selectOutputButton resetOutputButton", "enc", "-brate 128 @", "tput folder: \n",
                  ""},
                 {"selectInputButton", "enc", "-brate 128 %", "input folder: %\n", ""},
                 {"selectInputButton", "a;b", "-brate 128 @", "input folder: @\n",
                  "cannot be kept"},
                 {"selectOutputButton", "a\"b", "-brate 128 @", "tput folder: \n", "double quote"},
                 {"resetInputButton", "", "", "input folder: \n", ""},
                 {"customRadio", "", "", "quality:\t\tcustom", "Invalid custom bit rate"},
                 {"customRadio 144 lowRadio customRadio", "", "-brate 144 @", "rate:\t144", ""},
                 {"deleteConfigButton", "", "-brate 128 @", "", "configuration will be reset"}}) {
            Env env;
            write_file(env.enc + "/x.wav", "");
            std::string started, results;
            const auto expand = [&](std::string s) {
                for (size_t at; (at = s.find_first_of("@%#")) != std::string::npos;)
                    s.replace(at, 1,
                              s[at] == '@'   ? env.wavs
                              : s[at] == '#' ? results
                                             : env.dir / chosen);
                return s;
            };
            if (!chosen.empty()) env.folders.answers = {env.dir / chosen};
            env.start([&](MainDialog& d) {
                for (const QString& name : QString::fromStdString(presses).split(' '))
                    name[0].isDigit() ? QTest::keyClicks(control(d, "customBitrateEdit"), name)
                                      : press(d, name);
                press(d, "goButton"), started = d.lastCommandText(), results = d.resultsPath();
                d.accept();
            });
            QCOMPARE(started,
                     command.empty() ? "" : expand(env.paths.encoderPath + " -batch " + command));
            const std::string file = read_file(env.paths.settingsPath);
            QVERIFY2(saved.empty() ? file.empty() : file.find(expand(saved)) != std::string::npos,
                     saved.c_str());
            QVERIFY2(env.boxes.says(0, box) == !box.empty() && env.boxes.shown.size() < 2,
                     box.c_str());
        }
    }

    // The desktop boxes (icon, plain text, answer) and folder dialog (title, folder picked).
    void desktopBoxesAndFolderDialog() {
        using M = QMessageBox;
        for (const auto& [icon, qtIcon, pressed, answer] :
             std::vector<std::tuple<BoxIcon, M::Icon, M::StandardButton, BoxAnswer>>{
                 {BoxIcon::Error, M::Critical, M::Ok, BoxAnswer::Ok},
                 {BoxIcon::Question, M::Question, M::No, BoxAnswer::No},
                 {BoxIcon::Question, M::Question, M::Yes, BoxAnswer::Yes}}) {
            QString seen;
            QTimer::singleShot(0, [&, qtIcon, pressed] { // once the box is up
                auto* b = qobject_cast<M*>(QApplication::activeModalWidget());
                if (b->icon() == qtIcon && b->textFormat() == Qt::PlainText) seen = b->text();
                b->button(pressed)->click();
            });
            const auto buttons = pressed == M::Ok ? BoxButtons::Ok : BoxButtons::YesNo;
            QVERIFY(QtMessageBoxes().Show({icon, "t", "<b>1</b>", buttons, true}) == answer &&
                    seen == "<b>1</b>");
        }
        const Env env;
        for (const bool pick : {true, false}) {
            QString title;
            QTimer::singleShot(0, [&] {
                auto* f = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                title = f->windowTitle();
                pick ? static_cast<QDialog*>(f)->accept() : f->reject();
            });
            const auto chosen = DesktopFolderChooser().choose(nullptr, "Pick:", env.wavs);
            QVERIFY(title == "Pick:" && chosen == (pick ? std::optional(env.wavs) : std::nullopt));
        }
    }

    void enterNeverClosesTheDialog() {
        Env env;
        env.start([](MainDialog& d) {
            press(d, "customRadio");
            QTest::keyClicks(control(d, "customBitrateEdit"), "128");
            for (const char* name : {"customBitrateEdit", "silentCheck", "closeButton"})
                control(d, name)->setFocus(), QTest::keyClick(control(d, name), Qt::Key_Return);
            QVERIFY(d.isVisible());
            control(d, "goButton")->setFocus(); // on a push button Enter presses it
            QTest::keyClick(control(d, "goButton"), Qt::Key_Enter);
            d.reject();
        });
        QCOMPARE(env.runs.started.size(), size_t(1));
        QCOMPARE(env.runs.started[0].arguments, (Args{"-batch", "-brate", "128", env.wavs}));
    }

    // Go! is enabled while the input folder holds WAVs (checked again on return to the
    // dialog) and no silent run goes; the run's end shows the failures of its results file.
    void goWaitsForWavsAndForTheSilentRun() {
        Env env("$silent mode: yes\n");
        auto d = env.dialog();
        auto* go = d->findChild<QAbstractButton*>("goButton");
        std::filesystem::remove(env.wavs + "/a.wav");
        go->click();
        QVERIFY(env.runs.started.empty() && !go->isEnabled());
        QVERIFY(env.boxes.says(0, "There is no WAV file in"));
        write_file(env.wavs + "/b.WAV", "RIFF");
        d->show(), d->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(d.get()) && go->isEnabled());
        go->click();
        QVERIFY(d->runUnderWay() && !go->isEnabled() && go->text() == "Running...");
        write_file(d->resultsPath(),
                   "{\"type\":\"start\",\"files\":1}\n{\"type\":\"file\",\"status\":"
                   "\"failed\",\"input\":\"b.WAV\",\"reason\":\"it is empty\"}\n");
        env.runs.end = BatchEnd{1, {}};
        QTRY_VERIFY(!d->runUnderWay());
        QVERIFY(go->isEnabled() && env.boxes.shown.at(1).icon == BoxIcon::Error);
        QVERIFY(env.boxes.says(1, "1 of 1 file(s) failed:\nb.WAV: it is empty\n"));
    }

    // A real silent run of tarvik: the progress bar reaches the number of files, and the box
    // at the end names the file that failed, with its reason.
    void silentRunShowsProgressAndFailures() {
        Env env("$silent mode: yes\n");
        env.paths.encoderPath = tarvik::test::bin("tarvik");
        QVERIFY(tarvik::test::write_wav(env.wavs + "/b.wav", {}));
        ProcessLauncher launcher("");
        MainDialog d(env.settings, env.paths, env.folders, launcher);
        press(d, "goButton");
        QTRY_VERIFY_WITH_TIMEOUT(!d.runUnderWay(), 60000);
        const auto* bar = d.findChild<QProgressBar*>("progressBar");
        QVERIFY(!bar->isHidden() && bar->value() == 2 && bar->maximum() == 2);
        QVERIFY(env.boxes.says(0, "1 of 2 file(s) failed:\n" + env.wavs +
                                      "/a.wav: it holds fewer than 10000 bytes\n"));
    }

    // In a terminal too, Go! waits for the run's end (here a terminal that lives a second).
    void goWaitsForTheRunInATerminal() {
        Env env;
        const std::string terminal = env.dir / "term", runs = terminal + ".runs";
        write_file(terminal, "#!/bin/sh\necho >>\"$0.runs\"; sleep 1\n");
        std::filesystem::permissions(terminal, std::filesystem::perms::owner_all);
        qputenv("TERMINAL", QByteArray::fromStdString(terminal));
        ProcessLauncher launcher("/bin/true");
        MainDialog d(env.settings, env.paths, env.folders, launcher);
        auto* go = d.findChild<QAbstractButton*>("goButton");
        go->click(), go->click();
        QVERIFY(d.runUnderWay() && !go->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(go->isEnabled(), 10000);
        QCOMPARE(read_file(runs), "\n");
        qunsetenv("TERMINAL");
    }

    // The language field lists the tool's languages (the code kept), takes typed text too, is
    // enabled with lip-sync, and reaches the command line as -lang unless it is en-us.
    void languageFieldFollowsLipSync() {
        Env env("$lip-sync language: de\n");
        write_file(env.enc + "/lipsync", "#!/bin/sh\nprintf 'de\\tGerman\\nen-us\\tEnglish\\n'\n");
        std::filesystem::permissions(env.enc + "/lipsync", std::filesystem::perms::owner_all);
        Args started;
        env.start([&](MainDialog& d) {
            auto* field = d.findChild<QComboBox*>("languageCombo");
            QVERIFY(field->count() == 2 && !field->isEnabled());
            QCOMPARE(field->currentText(), "de \u2013 German");
            press(d, "vlpCheck");
            QVERIFY(field->isEnabled());
            for (const QString typed : {"", "ENGLISH", "pt-br"}) {
                if (!typed.isEmpty()) field->setEditText(typed);
                press(d, "goButton"), started.push_back(d.lastCommandText());
            }
            press(d, "vlpCheck"), press(d, "goButton"), started.push_back(d.lastCommandText());
            d.accept();
        });
        const std::string head = env.paths.encoderPath + " -batch ";
        QCOMPARE(started, (Args{head + "-lips -lang de -brate 128 " + env.wavs,
                                head + "-lips -brate 128 " + env.wavs,
                                head + "-lips -lang pt-br -brate 128 " + env.wavs,
                                head + "-brate 128 " + env.wavs}));
        QVERIFY(read_file(env.paths.settingsPath).find("\n$lip-sync language:\tpt-br\n") !=
                std::string::npos);
    }

    // Tab into the Quality group lands on the checked preset.
    void tabLandsOnTheCheckedPreset() {
        Env env;
        auto d = env.dialog();
        d->show(), d->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(d.get()));
        for (const char* preset : {"defaultRadio", "highRadio"}) {
            press(*d, preset), control(*d, "resetOutputButton")->setFocus();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), control(*d, preset));
        }
    }

    // At its smallest size, below 640x400 (a 1280x800 screen at scale 2), every button is in
    // view, and a long folder name is elided in the middle, whole in its tooltip.
    void smallWindowShowsEveryButtonAndElidesLongFolders() {
        Env env;
        auto d = env.dialog();
        const std::string deep = env.dir / (std::string(200, 'x') + "/end");
        env.folders.answers = {deep};
        press(*d, "selectOutputButton"), d->show();
        QVERIFY(QTest::qWaitForWindowExposed(d.get()));
        QVERIFY(d->minimumWidth() < 640 && d->minimumHeight() < 400);
        d->resize(d->minimumSize());
        QTRY_COMPARE(d->size(), d->minimumSize());
        for (auto* b : d->findChildren<QAbstractButton*>())
            QVERIFY2(b->isVisible() &&
                         d->rect().contains(QRect(b->mapTo(d.get(), QPoint()), b->size())),
                     qPrintable(b->objectName()));
        const auto* out = d->findChild<QLabel*>("outputFolderText");
        const QString full = QString::fromStdString(deep);
        QVERIFY(out && out->toolTip() == full && out->text().contains(QChar(0x2026)) &&
                out->text().startsWith(full.left(8)) && out->text().endsWith("x/end"));
        QCOMPARE(d->findChild<QLabel*>("versionText")->text(), "Version " TARVIK_VERSION);
    }

    void mnemonicsTabOrderAndTooltips() {
        Env env;
        auto d = env.dialog();
        std::set<QChar> keys;
        for (auto* b : d->findChildren<QAbstractButton*>()) {
            const QString t = b->text();
            QVERIFY2(keys.insert(t.at(t.indexOf('&') + 1).toLower()).second &&
                         !b->toolTip().isEmpty(),
                     qPrintable(t));
        }
        // Tab moves through the rows top to bottom, each row left to right.
        d->show();
        const auto place = [&](QWidget* w) {
            return QRect(w->mapTo(d.get(), QPoint()), w->size());
        };
        QWidget* w = control(*d, "selectInputButton");
        QRect last = place(w);
        for (w = w->nextInFocusChain(); w != control(*d, "closeButton");
             w = w->nextInFocusChain()) {
            if (!(w->focusPolicy() & Qt::TabFocus) || !d->isAncestorOf(w)) continue;
            const QRect g = place(w);
            const bool sameRow = std::abs(g.center().y() - last.center().y()) < 12;
            QVERIFY2(sameRow ? g.left() > last.left()
                             : g.top() > last.top() || g.left() > last.right(),
                     qPrintable(w->objectName()));
            last = g;
        }
    }

    void movedEncoderIsAskedForAgainAndTheRestKept() {
        Env env("$low bitrate: 32\n$last option vlp: yes\n");
        std::filesystem::rename(env.enc, env.dir / "moved");
        env.folders.answers = {env.dir / "moved"};
        QCOMPARE(env.start(), 0);
        QCOMPARE(env.folders.initial.at(0), env.dir.path()); // the front end's own folder
        QVERIFY(env.boxes.says(0, "\"tarvik-gui.ini\" has no line \"$tarvik folder:\""));
        for (const std::string& line :
             Args{"$tarvik folder: " + env.dir / "moved", "$low bitrate:\t\t32",
                  "$last option vlp:\tyes", "$last input folder: " + env.wavs})
            QVERIFY2(read_file(env.paths.settingsPath).find(line + "\n") != std::string::npos,
                     line.c_str());
    }

    void threeWrongFoldersEndWithAReasonAndUnsavableSettingsAreReported() {
        Env env("", false);
        env.folders.answers = {env.wavs, env.dir.path(), env.wavs};
        QCOMPARE(env.start(), 1);
        for (const int i : {0, 2})
            QCOMPARE(env.folders.titles.at(i), "Where did you install tarvik " TARVIK_VERSION
                                               "? (" +
                                                   QString(i ? "1 try" : "3 tries") + " left)");
        QVERIFY(env.boxes.says(0, "2 tries left.") && env.boxes.says(2, "chosen in 3 tries"));
        QVERIFY(!tarvik::test::exists(env.paths.settingsPath));
        // Settings that cannot be written are reported once, at exit.
        std::filesystem::create_directory(env.paths.settingsPath);
        env.folders.answers = {env.enc};
        env.start();
        QVERIFY(env.boxes.says(env.boxes.shown.size() - 1, "next start uses the file as it was"));
        QCOMPARE(env.boxes.shown.size(), size_t(5)); // the unreadable file, then once at exit
    }

    // A settings file of more than 16 MB is said to be too large and left as it is; smaller
    // ones are read.
    void largeSettingsAreReadAndTooLargeOnesKept() {
        for (const int mb : {1, 17}) {
            Env env(std::string(size_t(mb) << 20, '\n') + "$low bitrate: 32\n");
            const std::string before = read_file(env.paths.settingsPath);
            env.folders.answers = {env.enc};
            QCOMPARE(env.start(), 0);
            const std::string after = read_file(env.paths.settingsPath);
            QVERIFY(mb == 1 ? after.find("$low bitrate:\t\t32\n") != std::string::npos
                            : after == before && env.boxes.says(0, "is not read: it holds"));
            QCOMPARE(env.boxes.shown.size(), size_t(mb == 1 ? 0 : 1));
        }
    }

    // A read-only settings file (its folder chosen again, so written twice) is kept as it is,
    // and said so once.
    void readOnlySettingsAreKeptAndSaidOnce() {
        Env env;
        std::filesystem::rename(env.enc, env.dir / "moved");
        env.folders.answers = {env.dir / "moved"};
        const std::string before = read_file(env.paths.settingsPath);
        std::filesystem::permissions(env.paths.settingsPath, std::filesystem::perms(0444));
        QCOMPARE(env.start([](MainDialog& d) { press(d, "lowRadio"), d.accept(); }), 0);
        QCOMPARE(read_file(env.paths.settingsPath), before);
        QCOMPARE(std::filesystem::status(env.paths.settingsPath).permissions(),
                 std::filesystem::perms(0444));
        QCOMPARE(
            std::ranges::count_if(env.boxes.shown,
                                  [](auto& b) { return b.text.find("read-only") != b.text.npos; }),
            1);
    }

    // --help, --version and a start without a display need no display: the real program in
    // an environment without one, then with a display where no X server runs.
    void optionsAndNoDisplayBeforeAnyWindow() {
        tarvik::test::TempDir home;
        for (const auto& [args, display, status, out, err] :
             std::vector<std::tuple<Args, std::string, int, std::string, std::string>>{
                 {{"--help"}, "", 0, "  --message-box <icon> <caption> <text>\n", ""},
                 {{"--version"}, "", 0, "tarvik-gui " TARVIK_VERSION "\n", ""},
                 {{}, "", 1, "", "tarvik-gui: no display (set DISPLAY or WAYLAND_DISPLAY)\n"},
                 {{"--message-box", "error", "c", "t"}, "", 1, "", "tarvik-gui: no display ("},
                 {{}, ":4077", 1, "", "tarvik-gui: no display (could not connect to display"}}) {
            const auto r = tarvik::test::run(tarvik::test::bin("tarvik-gui"), args,
                                             {.env = {{"DISPLAY", display},
                                                      {"WAYLAND_DISPLAY", ""},
                                                      {"QT_QPA_PLATFORM", ""},
                                                      {"HOME", home.path()},
                                                      {"XDG_CONFIG_HOME", home.path()}},
                                              .timeout_seconds = 30});
            QVERIFY2(r.exit_status == status && r.out.find(out) != std::string::npos &&
                         r.err.starts_with(err),
                     (r.out + r.err).c_str());
        }
    }
};

QTEST_MAIN(DialogTest)
#include "frontend_dialog_test.moc"
