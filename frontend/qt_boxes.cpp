// SPDX-License-Identifier: GPL-3.0-or-later
#include "frontend/qt_boxes.hpp"

#include <QApplication>
#include <QMessageBox>

#include <string_view>

namespace tarvik::gui {

namespace {
QMessageBox::Icon qt_icon(BoxIcon icon) {
    switch (icon) {
    case BoxIcon::Error:
        return QMessageBox::Critical;
    case BoxIcon::Warning:
        return QMessageBox::Warning;
    case BoxIcon::Question:
        return QMessageBox::Question;
    case BoxIcon::Information:
        break;
    }
    return QMessageBox::Information;
}

int exec_box(QMessageBox& box) {
    // User text is never read as markup.
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    box.raise();
    box.activateWindow();
    return box.exec();
}
} // namespace

BoxAnswer QtMessageBoxes::Show(const BoxRequest& r) {
    QWidget* owner = nullptr;
    if (r.ownedByDialog) owner = QApplication::activeModalWidget();
    const auto buttons = r.buttons == BoxButtons::YesNo
                             ? (QMessageBox::Yes | QMessageBox::No)
                             : QMessageBox::StandardButtons(QMessageBox::Ok);
    QMessageBox box(qt_icon(r.icon), QString::fromStdString(r.caption),
                    QString::fromStdString(r.text), buttons, owner);
    const int answer = exec_box(box);
    if (r.buttons == BoxButtons::Ok) return BoxAnswer::Ok;
    return answer == QMessageBox::No ? BoxAnswer::No : BoxAnswer::Yes;
}

int RunMessageBoxOption(int argc, char** argv) {
    if (argc != 5) return 2;
    const std::string_view name = argv[2];
    BoxIcon icon;
    if (name == "error")
        icon = BoxIcon::Error;
    else if (name == "information")
        icon = BoxIcon::Information;
    else if (name == "warning")
        icon = BoxIcon::Warning;
    else if (name == "question")
        icon = BoxIcon::Question;
    else
        return 2;
    QMessageBox box(qt_icon(icon), QString::fromLocal8Bit(argv[3]), QString::fromLocal8Bit(argv[4]),
                    QMessageBox::Ok);
    exec_box(box);
    return 0;
}

} // namespace tarvik::gui
