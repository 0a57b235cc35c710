// Stand-ins for the dialog's tests: message boxes, folder boxes and the launcher are
// replaced by recorders that answer from a script.
#pragma once

#include "frontend/folder_picker.hpp"
#include "frontend/gui_box.hpp"
#include "frontend/launch.hpp"

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace tarvik::gui::test {

class ScriptedBoxes final : public MessageBoxes {
public:
    std::vector<BoxRequest> shown;
    std::deque<BoxAnswer> answers; // taken in turn; Yes (or Ok) when empty
    BoxAnswer Show(const BoxRequest& r) override {
        shown.push_back(r);
        if (answers.empty()) return r.buttons == BoxButtons::YesNo ? BoxAnswer::Yes : BoxAnswer::Ok;
        const BoxAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
};

class ScriptedFolders final : public FolderChooser {
public:
    struct Asked {
        bool owned;
        std::string title;
        std::string initial;
    };
    std::vector<Asked> asked;
    std::deque<std::optional<std::string>> answers; // cancelled when empty
    std::optional<std::string> Choose(QWidget* owner, const std::string& title,
                                      const std::string& initial) override {
        asked.push_back({owner != nullptr, title, initial});
        if (answers.empty()) return std::nullopt;
        auto a = answers.front();
        answers.pop_front();
        return a;
    }
};

class RecordingLauncher final : public Launcher {
public:
    std::vector<LaunchRequest> started;
    bool result = true;
    bool Start(const LaunchRequest& r) override {
        started.push_back(r);
        return result;
    }
};

} // namespace tarvik::gui::test
