#pragma once
// The texts that report a run: while it goes, when it ends, and its count later.
#include <QString>
#include <QStringList>

#include "generator/host.h"

namespace pagiro {

// The four lines of the end-of-run summary.
QStringList summary_lines(std::int64_t pictures, const QString& finished_at, long seconds);

// The count shown by a double-click on the status line.
QString last_run_text(std::int64_t pictures);

}  // namespace pagiro
