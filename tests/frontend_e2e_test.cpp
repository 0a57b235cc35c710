// End to end: the dialog starts the real encoder (build/bin/tarvik) in batch mode on a
// folder of generated WAVs, and the MP3s appear. Needs the encoder's batch mode.
#include "frontend/launch.hpp"
#include "frontend/main_dlg.hpp"
#include "tests/frontend_qt_support.hpp"
#include "tests/support/test_support.hpp"

#include <QAbstractButton>
#include <QtTest>

#include <chrono>
#include <filesystem>
#include <thread>
#include <unistd.h>

using namespace tarvik::gui;
using namespace tarvik::gui::test;

namespace {

std::vector<std::string> mp3s_in(const std::string& dir) {
    std::vector<std::string> out;
    for (const auto& name : tarvik::test::list_dir(dir))
        if (name.size() > 4 && name.substr(name.size() - 4) == ".mp3") out.push_back(name);
    return out;
}

QAbstractButton* button(CMainDlg& d, int id) { return qobject_cast<QAbstractButton*>(d.Control(id)); }

} // namespace

class EndToEndTest : public QObject {
    Q_OBJECT
private slots:
    void batchFromTheDialogProducesMp3s() {
        const std::string encoder = tarvik::test::bin("tarvik");
        QVERIFY2(IsEncoderAt(encoder), "build the tarvik target first");

        tarvik::test::TempDir dir;
        const std::string wavs = dir / "Voice Lines"; // names reach the encoder as typed
        const std::string mp3s = dir / "mp3 out";
        std::filesystem::create_directories(wavs);
        std::filesystem::create_directories(mp3s); // an empty output folder is remembered
        const std::vector<std::string> names = {"greeting", "farewell", "question"};
        for (size_t i = 0; i < names.size(); ++i) {
            tarvik::test::WavSpec tone;
            tone.seconds = 1.0 + 0.5 * static_cast<double>(i);
            tone.frequency = 330.0 + 110.0 * static_cast<double>(i);
            QVERIFY(tarvik::test::write_wav(wavs + "/" + names[i] + ".wav", tone));
        }
        const std::string boxLog = dir / "boxes.log";
        qputenv("TARVIK_TEST_BOX_LOG", QByteArray::fromStdString(boxLog));

        GuiSettings settings;
        AppPaths paths{dir / "tarvik-gui.ini", encoder};
        tarvik::test::write_file(paths.settingsPath,
                                 "$tarvik folder: " + tarvik::test::bin_dir() + "\n$last input folder: " + wavs +
                                     "\n$last output folder: " + mp3s + "\n$silent mode: yes\n");
        ScriptedFolders folders;
        ScriptedBoxes boxes;
        SetMessageBoxes(&boxes);
        ProcessLauncher launcher(TARVIK_TEST_BOX_RECORDER);
        CMainDlg dlg(settings, paths, folders, launcher);
        QVERIFY(dlg.Control(ControlId::Go)->isEnabled());
        button(dlg, ControlId::Go)->click();
        SetMessageBoxes(nullptr);
        QVERIFY(boxes.shown.empty());

        // The encoder runs on its own; wait for its summary box, which comes after the last
        // file.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (std::chrono::steady_clock::now() < deadline &&
               tarvik::test::read_file(boxLog).find("--end--") == std::string::npos)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const std::string box = tarvik::test::read_file(boxLog);
        QVERIFY2(!box.empty(), "no summary box from the encoder within 120 s");
        QVERIFY2(box.rfind("--message-box\ninformation\n", 0) == 0, box.c_str());

        const auto produced = mp3s_in(mp3s);
        QCOMPARE(produced, (std::vector<std::string>{"farewell.mp3", "greeting.mp3", "question.mp3"}));
        for (size_t i = 0; i < names.size(); ++i) {
            const auto info = tarvik::test::audio_info(mp3s + "/" + names[i] + ".mp3");
            QVERIFY(info);
            QCOMPARE(info->sample_rate, 44100);
            QCOMPARE(info->channels, 1);
            const double seconds = static_cast<double>(info->frames) / info->sample_rate;
            QVERIFY2(std::abs(seconds - (1.0 + 0.5 * static_cast<double>(i))) < 0.1, names[i].c_str());
            const auto facts = tarvik::test::mp3_facts(mp3s + "/" + names[i] + ".mp3");
            QVERIFY(facts);
            QVERIFY(!facts->bit_rates.empty());
            QCOMPARE(facts->bit_rates.back(), 128); // the Default preset
        }
        // The WAVs stay: -rem was not asked for.
        QCOMPARE(tarvik::test::list_dir(wavs).size(), names.size());
    }

    void encoderThatCannotStartIsReported() {
        tarvik::test::TempDir dir;
        const std::string wavs = dir / "wavs";
        std::filesystem::create_directories(wavs);
        tarvik::test::write_file(wavs + "/a.wav", "RIFF");
        tarvik::test::write_file(dir / "tarvik", "not a program"); // no execute permission

        GuiSettings settings;
        AppPaths paths{dir / "tarvik-gui.ini", dir / "tarvik"};
        tarvik::test::write_file(paths.settingsPath, "$last input folder: " + wavs + "\n$silent mode: yes\n");
        ScriptedFolders folders;
        ScriptedBoxes boxes;
        SetMessageBoxes(&boxes);
        ProcessLauncher launcher(TARVIK_TEST_BOX_RECORDER);
        CMainDlg dlg(settings, paths, folders, launcher);
        button(dlg, ControlId::Go)->click();
        std::filesystem::remove(dir / "tarvik");
        button(dlg, ControlId::Go)->click();
        SetMessageBoxes(nullptr);
        QCOMPARE(boxes.shown.size(), size_t(2));
        for (const auto& b : boxes.shown)
            QCOMPARE(b.text, std::string("************ ERROR ************\nCannot start tarvik! Make sure it "
                                         "is not being used.\n"));
    }
};

QTEST_MAIN(EndToEndTest)
#include "frontend_e2e_test.moc"
