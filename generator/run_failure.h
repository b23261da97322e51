#pragma once
// The one way a run fails: what to tell the user in the window (Chinese) and on
// the command line (plain English). The error numbers of the encoder classes and
// the folder errors are turned into one of these where the run meets them.
#include <QString>
#include <exception>
#include <stdexcept>

namespace pagiro {

struct RunFailure : std::runtime_error {
    RunFailure(const QString& zh, const QString& en) : std::runtime_error(en.toStdString()), chinese(zh), english(en) {}
    QString chinese;
    QString english;
};

// Where an error stopped the run: in the run itself, or in making one page on a
// worker. The two are worded differently for the user.
enum class FailedIn { run, page };

// Any error as the user is told of it: a RunFailure as it is, the encoder classes'
// numbered errors (VbError) and anything else in words. The page counter passing
// 32767 and a setting out of range are RunFailures of their own, so an overflow
// that reaches here is named only by its number.
RunFailure to_run_failure(std::exception_ptr error, FailedIn where);

}  // namespace pagiro
