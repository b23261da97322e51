#pragma once
// The texts that end a run and that report its count later.
#include <QString>
#include <QStringList>

namespace pagiro {

// The four lines of the end-of-run summary.
QStringList summary_lines(double pictures, const QString& finished_at, long seconds);

// The count shown by a double-click on the status line.
QString last_run_text(double pictures);

// The number of pictures the last run wrote: pageno minus the first page number.
double pictures_written(const QString& first_page_text);

}  // namespace pagiro
