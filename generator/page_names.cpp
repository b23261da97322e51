#include "page_names.h"

#include <algorithm>
#include <cmath>
#include <system_error>

namespace pagiro {
namespace {

const QString kVolumeFolder = QStringLiteral("分卷");

bool all_digits(QStringView s) {
    return !s.isEmpty() && std::all_of(s.begin(), s.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

bool is_plain_file(const std::filesystem::path& p) {
    std::error_code ec;
    return std::filesystem::symlink_status(p, ec).type() == std::filesystem::file_type::regular;
}

// The page number a file name stands for under this naming, if it is one.
std::optional<std::int64_t> page_number_of(const QString& name, const PageNaming& naming) {
    if (!name.startsWith(naming.prefix) || !name.endsWith(naming.extension)) return std::nullopt;
    const qsizetype digits = name.size() - naming.prefix.size() - naming.extension.size();
    if (digits <= 0 || digits > 18) return std::nullopt;
    const QStringView number = QStringView(name).mid(naming.prefix.size(), digits);
    if (!all_digits(number)) return std::nullopt;
    const std::int64_t page = number.toLongLong();
    if (number != page_number_text(page, naming.estimate)) return std::nullopt;
    return page;
}

// The entry's own type, links not followed. From what the folder listing said
// where the file system says it, so that a folder of tens of thousands of pages is
// not asked about each one again.
std::filesystem::file_type entry_type(const std::filesystem::directory_entry& entry, std::error_code& ec) {
    using std::filesystem::file_type;
    if (entry.is_symlink(ec) || ec) return file_type::symlink;
    if (entry.is_directory(ec)) return file_type::directory;
    return entry.is_regular_file(ec) ? file_type::regular : file_type::unknown;
}

void collect(const std::filesystem::path& folder, const QString& relative, const PageNaming& naming,
             std::int64_t last_written, bool volumes_too, StalePages& out) {
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::filesystem::path& path = it->path();
        const QString name = QString::fromStdString(path.filename().string());
        const auto type = entry_type(*it, ec);
        if (ec) break;
        if (type == std::filesystem::file_type::directory) {
            if (volumes_too && name.startsWith(kVolumeFolder) && all_digits(QStringView(name).mid(kVolumeFolder.size())))
                collect(path, name + u'/', naming, last_written, false, out);
        } else if (type == std::filesystem::file_type::regular) {
            const auto page = page_number_of(name, naming);
            if (page && *page > last_written) out.files.push_back({*page, path, relative + name});
        }
    }
}

}  // namespace

QString page_number_text(std::int64_t page, double estimate) {
    const qsizetype width = std::max<qsizetype>(QString::number(estimate, 'f', 0).size(), 6);
    return QString::number(page).rightJustified(width, u'0');
}

StalePages find_stale_pages(const PageNaming& naming, std::int64_t last_written) {
    StalePages stale;
    collect(std::filesystem::path(naming.folder.toStdString()), QString(), naming, last_written, true, stale);
    std::sort(stale.files.begin(), stale.files.end(), [](const StalePages::File& a, const StalePages::File& b) {
        return a.number != b.number ? a.number < b.number : a.name < b.name;
    });
    return stale;
}

StalePages remove_stale_pages(StalePages& stale) {
    StalePages removed, left;
    for (StalePages::File& f : stale.files) {
        std::error_code ec;
        const bool gone = is_plain_file(f.path) && std::filesystem::remove(f.path, ec);
        (gone ? removed : left).files.push_back(std::move(f));
    }
    stale = std::move(left);
    return removed;
}

}  // namespace pagiro
