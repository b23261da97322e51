#pragma once
// File names are bytes on this system, and not every name is UTF-8: a novel
// copied from an old Windows disk may be named in GBK. A name is held in a
// QString with every byte that is not part of valid UTF-8 kept as the lone
// surrogate U+DC80 + byte, so that it goes back to exactly the bytes it came
// from (Python calls this "surrogateescape"). Everything that turns such a text
// back into a path or prints it goes through these functions.
#include <QString>
#include <QStringList>
#include <filesystem>
#include <string>
#include <string_view>

namespace pagiro {

// Valid UTF-8 decodes as usual; each other byte becomes U+DC80 + byte.
QString name_from_bytes(std::string_view bytes);

// The bytes the name came from. A kept byte goes back as itself, anything else
// as UTF-8 (a lone surrogate of another kind as U+FFFD, which no file has).
std::string bytes_of_name(const QString& name);

std::filesystem::path path_of(const QString& name);

// The program's arguments, names among them kept as above.
QStringList program_arguments(int argc, char** argv);

// The folder the program runs in ("." when it cannot be told).
QString current_folder_name();

}  // namespace pagiro
