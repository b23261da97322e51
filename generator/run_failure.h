#pragma once
// The one way a run fails: what to tell the user in the window (Chinese) and on
// the command line (plain English). The error numbers of the encoder classes and
// the folder errors are turned into one of these where the run meets them.
#include <QString>
#include <stdexcept>

namespace pagiro {

struct RunFailure : std::runtime_error {
    RunFailure(const QString& zh, const QString& en) : std::runtime_error(en.toStdString()), chinese(zh), english(en) {}
    QString chinese;
    QString english;
};

}  // namespace pagiro
