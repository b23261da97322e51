#pragma once
// The names of a run's page files, and the files an earlier run left under them.
// A page is prefix + number + extension, the number zero-filled to the width of
// the page estimate (at least six digits). A second run into the same folder
// writes fewer pages than the first when the text is shorter or the pages are
// bigger; the first run's pages past the second's end would otherwise stay
// mixed in with the new book.
#include <QString>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace pagiro {

// The number as it appears in a page's name: zero-filled to the estimate's digits,
// at least six; a number wider than that keeps all its digits.
QString page_number_text(std::int64_t page, double estimate);

// Page files past the end of a run, lowest number first.
struct StalePages {
    struct File {
        std::int64_t number;
        std::filesystem::path path;
        QString name;  // relative to the output folder, for messages
    };
    std::vector<File> files;

    bool empty() const { return files.empty(); }
    std::int64_t count() const { return static_cast<std::int64_t>(files.size()); }
};

// What a run's page names look like, and where they may be.
struct PageNaming {
    QString folder;     // the output folder; its volume folders 分卷N are looked in too
    QString prefix;
    QString extension;  // ".jpg"
    double estimate;    // sets the zero-fill
};

// The regular files named exactly as this run would name a page numbered past
// `last_written`, in the folder and its volume folders. Symbolic links, folders,
// other prefixes or extensions, other zero-fills and lower numbers are not ours
// to judge and are left out. A folder that cannot be read gives nothing.
StalePages find_stale_pages(const PageNaming& naming, std::int64_t last_written);

// Removes the files and returns them; those that could not be removed (or were no
// longer regular files when their turn came) stay in `stale`.
StalePages remove_stale_pages(StalePages& stale);

}  // namespace pagiro
