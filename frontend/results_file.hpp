// SPDX-License-Identifier: GPL-3.0-or-later
// The results file of a silent run: a private temporary file that the front end names with
// "tarvik -json FILE", and reads, line by line as the run appends them, into RunResults.
#pragma once

#include "frontend/launch.hpp"

#include <QByteArray>
#include <QString>
#include <QTemporaryFile>

namespace tarvik::gui {

// Adds one line of a results file to `results`; a line that is not a record is passed over.
void AddResultsLine(const QByteArray& line, RunResults& results);

class ResultsFile {
  public:
    // Creates the file (empty, readable by the user alone, removed with the object); false
    // when it cannot be.
    bool Create();
    QString Path() const { return file_.fileName(); }
    // Adds the lines completed since the last call to `results`.
    void Read(RunResults& results);

  private:
    QTemporaryFile file_;
    qint64 read_ = 0;    // bytes taken so far
    QByteArray partial_; // a line whose end has not come yet
};

} // namespace tarvik::gui
