#pragma once
// Books for Xteink e-ink readers: .xtc (1-bit XTG pages) and .xtch (2-bit XTH pages),
// one file of pages that are already pictures, with the title, the author and a
// chapter table for the reader's contents menu.
//
// Pages arrive one at a time, in order, and go straight to disk: a book may have tens
// of thousands of pages of 96,000 bytes, and its chapters are complete only at the end.
// So a file is laid out as
//
//     header (56 bytes) | metadata (256 bytes) | page data … | chapter table | page table
//
// and the header, which points at all of it, is written last. Readers find the chapter
// table between the header and the page table and count its entries by the room up to
// the page table, which this arrangement keeps exact.
//
// One file holds at most 65,535 pages and stays below 4 GiB: the header's page count is
// 16 bits, its chapter table offset 32 bits, and the reader's memory card is FAT32. A
// longer book is split into numbered files, "<name>-01.xtch", "<name>-02.xtch", … (two
// digits, more when there are more than 99 files); a book that fits keeps its plain name.
// Every file is written under a temporary name and renamed into place only when the
// whole book is done, so a failed or abandoned book leaves nothing behind and never
// replaces an older book of the same name.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "book/chapters.h"
#include "platform/pixel_view.h"

namespace pagiro {

class StagedFile;

enum class XtcDepth { OneBit, TwoBit };  // .xtc with XTG pages, .xtch with XTH pages

struct XtcBook {
    std::filesystem::path path;  // the book's file, "<folder>/<name>.xtch"
    XtcDepth depth = XtcDepth::TwoBit;
    std::string title;   // UTF-8, cut to 127 bytes at a character boundary
    std::string author;  // UTF-8, cut to 63 bytes
    // Limits of one file; lowered only to try splitting without writing gigabytes.
    std::uint32_t max_pages_per_file = 65535;
    std::uint64_t max_file_bytes = 0xFFFFFFFF;
};

const char* xtc_extension(XtcDepth depth);  // ".xtc" or ".xtch"

// The name of file `index` (1-based) of a book split into `count` files.
std::filesystem::path split_book_path(const std::filesystem::path& book, int index, int count);

class XtcWriter {
public:
    // Throws BookError when the book's folder cannot take a file.
    explicit XtcWriter(XtcBook book);
    ~XtcWriter();  // without finish(), removes everything written
    XtcWriter(const XtcWriter&) = delete;
    XtcWriter& operator=(const XtcWriter&) = delete;

    // Appends the next page (at most 65,535 pixels each way). Throws BookError when the
    // file cannot be written, std::invalid_argument for an empty or oversized page.
    void add_page(const GreyView& page);
    std::uint32_t page_count() const { return pages_; }

    // Writes the chapter tables and headers and puts the files in place. `chapters` are
    // numbered in the whole book's pages (chapter_table() makes them from where chapters
    // start); a split book's files each get the chapters on their pages, renumbered, a
    // chapter that runs on into the next file starting again on its first page.
    // Returns the files written. Throws BookError (nothing is left then) for a book
    // without pages or a file that cannot be completed, std::invalid_argument for
    // chapters outside the book's pages.
    std::vector<std::filesystem::path> finish(const std::vector<Chapter>& chapters);

private:
    struct Volume;
    void start_volume();
    void seal_volume(Volume& volume, const std::vector<Chapter>& chapters);
    [[noreturn]] void fail(std::string reason);

    XtcBook book_;
    std::vector<std::unique_ptr<Volume>> volumes_;
    std::uint32_t pages_ = 0;
    std::vector<std::uint8_t> page_bytes_;  // the page being packed, header included
};

}  // namespace pagiro
