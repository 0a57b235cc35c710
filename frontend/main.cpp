// SPDX-License-Identifier: GPL-3.0-or-later
// tarvik-gui: the front end of the tarvik encoder. Started with
// "--message-box <icon> <caption> <text>" it only shows that box (the console encoder asks
// for it when it has no window of its own); with "--run-in-terminal <program> <args...>" it
// runs the encoder in the terminal window it was started in and keeps that window open.
// "--help", "--version" and the refusal to start without a display need no display.
#include "frontend/folder_picker.hpp"
#include "frontend/front_end_app.hpp"
#include "frontend/launch.hpp"
#include "frontend/main_dialog.hpp"
#include "frontend/qt_boxes.hpp"

#include "common/paths.hpp"
#include "platform/system.hpp"

#include <QApplication>
#include <QElapsedTimer>
#include <QIcon>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--run-in-terminal") == 0)
        return tarvik::gui::RunInTerminal(argv[2], std::vector<std::string>(argv + 3, argv + argc));
    QElapsedTimer sinceStart;
    sinceStart.start();
    if (const auto end = tarvik::gui::EndBeforeWindows(argc, argv)) {
        std::fputs(end->out.c_str(), stdout);
        std::fputs(end->err.c_str(), stderr);
        return end->status;
    }
    const auto app = tarvik::gui::MakeApplication(argc, argv);
    app->setWindowIcon(QIcon(QStringLiteral(":/tarvik-gui.svg"))); // compiled in from docs/desktop
    if (argc >= 2 && std::strcmp(argv[1], "--message-box") == 0)
        return tarvik::gui::RunMessageBoxOption(argc, argv);

    tarvik::gui::QtMessageBoxes boxes;
    tarvik::gui::SetMessageBoxes(&boxes);
    tarvik::gui::DesktopFolderChooser folders;
    const std::string self = tarvik::platform::executable_path();
    tarvik::gui::ProcessLauncher launcher(self);

    tarvik::gui::FrontEndApp::Services services;
    services.folders = &folders;
    services.launcher = &launcher;
    services.exeDir = tarvik::dir_part(self).value_or(".");
    if (const char* path = std::getenv("PATH")) services.searchPath = path;
    // Diagnostic: report how long the start-up took and close the dialog at once.
    if (const char* timing = std::getenv("TARVIK_GUI_STARTUP_TIME"); timing && *timing == '1') {
        services.whenShown = [&sinceStart](tarvik::gui::MainDialog& dialog) {
            std::fprintf(stderr, "dialog shown after %lld ms\n",
                         static_cast<long long>(sinceStart.elapsed()));
            dialog.reject();
        };
    }
    const int status = tarvik::gui::FrontEndApp(services).run();
    tarvik::gui::SetMessageBoxes(nullptr);
    return status;
}
