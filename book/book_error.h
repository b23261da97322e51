#pragma once
// The one error the book writers raise: a plain English reason that names the file,
// for the command line to print and the window to put beside its own message. When
// a writer throws, nothing of the book it was writing is left on disk.
#include <stdexcept>
#include <string>

namespace pagiro {

struct BookError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace pagiro
