#pragma once
// Bad usage of the command line: the message says what to give instead, and the
// program exits with code 2.
#include <QString>

namespace pagiro {

struct UsageError {
    QString message;
};

}  // namespace pagiro
