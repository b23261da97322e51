#include "cbz_writer.h"

#include <zip.h>

#include <algorithm>
#include <stdexcept>

#include "book/book_error.h"
#include "book/utf8_text.h"
#include "platform/staged_file.h"

namespace pagiro {
namespace {

// Text for an XML element: the five special characters escaped, and the control
// characters XML 1.0 does not allow left out.
std::string xml_text(const std::string& text) {
    std::string out;
    for (char c : clean_utf8(text)) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default:
            if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n' || c == '\r') out += c;
        }
    }
    return out;
}

std::string page_name(std::size_t index, std::size_t count, const std::string& extension) {
    const std::size_t width = std::max<std::size_t>(4, std::to_string(count).size());
    std::string number = std::to_string(index + 1);
    return std::string(width - number.size(), '0') + number + "." + extension;
}

std::string zip_message(zip_t* archive) { return zip_error_strerror(zip_get_error(archive)); }

// An archive being built, discarded unless it was closed.
struct Archive {
    zip_t* handle = nullptr;
    ~Archive() {
        if (handle) zip_discard(handle);
    }
};

}  // namespace

std::string comic_info_xml(const std::string& title, const std::string& writer, std::uint32_t page_count) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<ComicInfo xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
        "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\">\n";
    xml += "  <Title>" + xml_text(title) + "</Title>\n";
    if (!writer.empty()) xml += "  <Writer>" + xml_text(writer) + "</Writer>\n";
    xml += "  <PageCount>" + std::to_string(page_count) + "</PageCount>\n";
    xml += "  <LanguageISO>zh</LanguageISO>\n";
    xml += "</ComicInfo>\n";
    return xml;
}

CbzWriter::CbzWriter(CbzBook book) : book_(std::move(book)) {
    std::filesystem::path folder = book_.path.parent_path();
    if (folder.empty()) folder = ".";
    spool_ = std::make_unique<StagedFile>(folder, std::string(utf8_prefix(book_.path.filename().string(), 200)) + ".pages");
    if (!spool_->ok()) fail(spool_->error());
}

CbzWriter::~CbzWriter() = default;

void CbzWriter::fail(std::string reason) {  // a copy: it may be the spool's own message
    spool_.reset();
    throw BookError(reason);
}

void CbzWriter::add_page(const void* data, std::size_t size) {
    // libzip reads a length of 0 as "to the end of the file".
    if (size == 0) throw std::invalid_argument("an empty page picture");
    if (!spool_) throw BookError("the book was not written: an earlier step failed");
    pages_.push_back({spool_->size(), size});
    if (!spool_->append(data, size)) fail(spool_->error());
}

std::filesystem::path CbzWriter::finish() {
    if (!spool_) throw BookError("the book was not written: an earlier step failed");
    if (pages_.empty()) fail("a book needs at least one page");
    if (!spool_->close()) fail(spool_->error());

    // libzip writes the archive at zip_close, itself through a temporary file that it
    // renames onto the name it was opened with; that name is ours, reserved by an empty
    // staged file, and becomes the book's only when everything is written.
    std::filesystem::path folder = book_.path.parent_path();
    if (folder.empty()) folder = ".";
    StagedFile target(folder, std::string(utf8_prefix(book_.path.filename().string(), 200)));
    if (!target.close()) fail(target.error());

    Archive archive;
    int open_error = 0;
    archive.handle = zip_open(target.path().c_str(), ZIP_TRUNCATE, &open_error);
    if (!archive.handle) {
        zip_error_t error;
        zip_error_init_with_code(&error, open_error);
        std::string reason = "cannot write " + book_.path.string() + ": " + zip_error_strerror(&error);
        zip_error_fini(&error);
        fail(reason);
    }
    const std::string spool_path = spool_->path().string();
    for (std::size_t i = 0; i < pages_.size(); ++i) {
        // A file source opens the spool only while libzip copies this page.
        zip_source_t* source = zip_source_file(archive.handle, spool_path.c_str(), pages_[i].offset,
                                               static_cast<zip_int64_t>(pages_[i].size));
        if (!source) fail("cannot add a page to " + book_.path.string() + ": " + zip_message(archive.handle));
        const std::string name = page_name(i, pages_.size(), book_.page_extension);
        const zip_int64_t index = zip_file_add(archive.handle, name.c_str(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(source);
            fail("cannot add a page to " + book_.path.string() + ": " + zip_message(archive.handle));
        }
        zip_set_file_compression(archive.handle, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
    }

    const std::string info = comic_info_xml(book_.title, book_.writer, page_count());
    zip_source_t* info_source = zip_source_buffer(archive.handle, info.data(), info.size(), 0);
    if (!info_source || zip_file_add(archive.handle, "ComicInfo.xml", info_source, ZIP_FL_ENC_UTF_8) < 0) {
        if (info_source) zip_source_free(info_source);
        fail("cannot add ComicInfo.xml to " + book_.path.string() + ": " + zip_message(archive.handle));
    }

    if (zip_close(archive.handle) != 0)
        fail("cannot write " + book_.path.string() + ": " + zip_message(archive.handle));
    archive.handle = nullptr;
    if (!target.commit(book_.path)) fail(target.error());
    spool_.reset();
    return book_.path;
}

}  // namespace pagiro
