#pragma once
// Books for comic readers: a .cbz, a ZIP archive of page pictures read in name order,
// with a ComicInfo.xml that gives the title, the writer, the page count and the
// language.
//
// ZIP libraries build the whole archive when it is closed, and a book has thousands of
// pages, so the pages are not held in memory: each one is appended to a spool file
// beside the book as it arrives, and at the end every archive entry reads its page from
// the spool by offset and length. Pages are stored, not compressed (they are PNG or
// JPEG already, and readers seek faster), under zero-padded names ("0001.png" …, more
// digits for a book of 10,000 pages or more). The archive is built under a temporary
// name and renamed into place when complete; the spool is removed either way.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace pagiro {

class StagedFile;

struct CbzBook {
    std::filesystem::path path;   // the book's file, "<folder>/<name>.cbz"
    std::string title;            // UTF-8
    std::string writer;           // UTF-8; left out of ComicInfo.xml when empty
    std::string page_extension;   // "png" or "jpg": the pages' file type
};

// The ComicInfo.xml of a book of `page_count` pages.
std::string comic_info_xml(const std::string& title, const std::string& writer, std::uint32_t page_count);

class CbzWriter {
public:
    // Throws BookError when the book's folder cannot take a file.
    explicit CbzWriter(CbzBook book);
    ~CbzWriter();  // without finish(), removes everything written
    CbzWriter(const CbzWriter&) = delete;
    CbzWriter& operator=(const CbzWriter&) = delete;

    // Appends the next page, an encoded picture. Throws BookError when the spool cannot
    // be written, std::invalid_argument for an empty one.
    void add_page(const void* data, std::size_t size);
    std::uint32_t page_count() const { return static_cast<std::uint32_t>(pages_.size()); }

    // Builds the archive and puts it in place. Throws BookError (nothing is left then)
    // for a book without pages or an archive that cannot be written.
    std::filesystem::path finish();

private:
    struct Span {
        std::uint64_t offset;
        std::uint64_t size;
    };
    [[noreturn]] void fail(std::string reason);

    CbzBook book_;
    std::unique_ptr<StagedFile> spool_;
    std::vector<Span> pages_;
};

}  // namespace pagiro
