// SPDX-License-Identifier: GPL-3.0-or-later
#include "frontend/results_file.hpp"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace tarvik::gui {

void AddResultsLine(const QByteArray& line, RunResults& results) {
    const QJsonObject record = QJsonDocument::fromJson(line).object();
    const QString type = record.value("type").toString();
    if (type == "start") {
        results = {};
        results.total = static_cast<size_t>(record.value("files").toInteger());
    } else if (type == "file")
        results.AddFile(record.value("status").toString().toStdString(),
                        record.value("input").toString().toStdString(),
                        record.value("reason").toString().toStdString());
}

bool ResultsFile::Create() {
    file_.setFileTemplate(QDir::tempPath() + "/tarvik-gui-XXXXXX.jsonl");
    if (!file_.open()) return false;
    file_.close(); // the name stays, and the file, until the object goes
    return true;
}

void ResultsFile::Read(RunResults& results) {
    QFile file(Path());
    if (!file.open(QIODevice::ReadOnly) || !file.seek(read_)) return;
    partial_ += file.readAll();
    read_ = file.pos();
    for (qsizetype end; (end = partial_.indexOf('\n')) >= 0; partial_.remove(0, end + 1))
        AddResultsLine(partial_.left(end), results);
}

} // namespace tarvik::gui
