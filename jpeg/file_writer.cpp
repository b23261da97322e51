// The file writer: the whole JFIF file is assembled in memory, marker segment by
// marker segment around the entropy-coded scans, and then put on disk in one piece.
#include <cerrno>

#include "bmptojpg.h"
#include "detail.h"
#include "platform/page_file.h"

using bmptojpg_detail::check_table_id;

namespace {

const char kCreditText[] =
    "JPEG Encoder Class\r\n"
    "Baseline JFIF encoder of the Pagiro picture e-book tool\r\n"
    "Written by the Pagiro developers";

VbError path_not_found() { return VbError(76, "Path not found"); }
VbError file_access_error() { return VbError(75, "Path/File access error"); }

}  // namespace

void bmptojpg::PutByte(std::int64_t index, int value) {
    if (index < 0) throw VbError::subscript_out_of_range();
    if (index > INT32_MAX) throw VbError::overflow();
    // The size estimate cannot foresee stuffed bytes: grow rather than fail.
    if (static_cast<std::uint64_t>(index) >= FileData.size()) {
        std::size_t grown = FileData.size() * 2;
        if (grown <= static_cast<std::size_t>(index)) grown = static_cast<std::size_t>(index) + 1;
        FileData.resize(grown);
    }
    FileData[static_cast<std::size_t>(index)] = static_cast<std::uint8_t>(value);
}

void bmptojpg::WriteMarker(int code) {
    PutByte(FilePos, 0xFF);
    PutByte(std::int64_t{FilePos} + 1, code);
    FilePos = bmptojpg_detail::add_i32(FilePos, 2);
}

void bmptojpg::WriteJFIFHeader() {
    static const std::uint8_t app0[18] = {0xFF, 0xE0, 0x00, 0x10, 'J',  'F',  'I',  'F',  0x00,
                                          0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
    for (int i = 0; i < 18; ++i) PutByte(std::int64_t{FilePos} + i, app0[i]);
    FilePos = bmptojpg_detail::add_i32(FilePos, 18);
}

void bmptojpg::WriteComment(const std::string& text) {
    if (text.empty()) return;
    if (text.size() > 65533) throw VbError::overflow();
    const int length = static_cast<int>(text.size()) + 2;
    WriteMarker(0xFE);
    PutByte(FilePos, length / 256);
    PutByte(std::int64_t{FilePos} + 1, length % 256);
    FilePos = bmptojpg_detail::add_i32(FilePos, 2);
    for (unsigned char ch : text) {
        PutByte(FilePos, ch);
        FilePos = bmptojpg_detail::add_i32(FilePos, 1);
    }
}

void bmptojpg::WriteQuantTable(std::int32_t start, int id) {
    PutByte(start, 0xFF);
    PutByte(std::int64_t{start} + 1, 0xDB);
    FilePos = bmptojpg_detail::add_i32(start, 4);
    check_table_id(id);
    const QuantTableRecord& table = QuantTables[static_cast<std::size_t>(id)];
    bool eight_bit = true;
    for (std::int16_t v : table.Values) {
        if (v < 0) throw VbError::overflow();
        if (v > 255) eight_bit = false;
    }
    auto put = [this](int value) {
        PutByte(FilePos, value);
        FilePos = bmptojpg_detail::add_i32(FilePos, 1);
    };
    if (eight_bit) {
        put(id);
        for (std::int16_t v : table.Values) put(v);
    } else {
        if (Precision != 12) throw VbError(1, "Illegal precission in Quantization Table");
        put(0x10 + id);
        for (std::int16_t v : table.Values) {
            put(v / 256);
            put(v & 0xFF);
        }
    }
    const std::int32_t length = FilePos - start - 2;
    PutByte(std::int64_t{start} + 2, length / 256);
    PutByte(std::int64_t{start} + 3, length % 256);
}

void bmptojpg::WriteFrameHeader(int code) {
    if (Height >= 65536 || Width >= 65536) throw VbError::overflow();
    const int n = ComponentCount;
    const int length = 3 * n + 8;
    WriteMarker(code);
    const int bytes[] = {length / 256, length % 256, Precision, Height / 256, Height % 256, Width / 256, Width % 256, n};
    for (int b : bytes) {
        PutByte(FilePos, b);
        FilePos = bmptojpg_detail::add_i32(FilePos, 1);
    }
    for (const ComponentRecord& c : Components) {
        for (int b : {c.Id, c.H * 16 + c.V, c.QuantTable}) {
            PutByte(FilePos, b);
            FilePos = bmptojpg_detail::add_i32(FilePos, 1);
        }
    }
}

void bmptojpg::WriteHuffmanTable(std::int32_t start, int id, bool ac) {
    PutByte(start, 0xFF);
    PutByte(std::int64_t{start} + 1, 0xC4);
    FilePos = bmptojpg_detail::add_i32(start, 4);
    check_table_id(id);
    const HuffmanTableRecord& table = (ac ? ACTables : DCTables)[static_cast<std::size_t>(id)];
    auto put = [this](int value) {
        PutByte(FilePos, value);
        FilePos = bmptojpg_detail::add_i32(FilePos, 1);
    };
    put(ac ? 0x10 + id : id);
    int total = 0;
    for (std::uint8_t c : table.Counts) {
        put(c);
        total += c;
    }
    if (total > 256) throw VbError::subscript_out_of_range();
    for (int i = 0; i < total; ++i) put(table.Symbols[static_cast<std::size_t>(i)]);
    const std::int32_t length = FilePos - start - 2;
    PutByte(std::int64_t{start} + 2, length / 256);
    PutByte(std::int64_t{start} + 3, length % 256);
}

void bmptojpg::WriteScanHeader(const ScanPlan& plan, int first, int last) {
    const int m = last - first + 1;
    const int length = 2 * m + 6;
    WriteMarker(0xDA);
    auto put = [this](int value) {
        PutByte(FilePos, value);
        FilePos = bmptojpg_detail::add_i32(FilePos, 1);
    };
    put(length / 256);
    put(length % 256);
    put(m);
    for (int j = first; j <= last; ++j) {
        const std::size_t at = static_cast<std::size_t>(j);
        bmptojpg_detail::check_index(plan.component[at], Components.size());
        put(Components[static_cast<std::size_t>(plan.component[at])].Id);
        put(plan.dc_table[at] * 16 + plan.ac_table[at]);
    }
    put(0x00);
    put(0x3F);
    put(0x00);
}

void bmptojpg::AssembleFile() {
    ScanPlan plan;
    for (int i = 0; i < ComponentCount; ++i) {
        plan.component.push_back(i);
        plan.dc_table.push_back(i == 0 ? 0 : 1);
        plan.ac_table.push_back(i == 0 ? 0 : 1);
    }
    const int last = ComponentCount - 1;
    const bool fast = !Fast.empty();
    const std::int32_t n = fast ? OptimizeTablesFast(plan, 0, last) : OptimizeTables(plan, 0, last);

    const std::int32_t u = bmptojpg_detail::round_to_i32(n * 1.3 + 1000 + static_cast<double>(Comment_.size()));
    FileData.clear();
    FileData.resize(static_cast<std::size_t>(u) + 1);
    FilePos = 0;

    WriteMarker(0xD8);
    WriteJFIFHeader();
    if (!Comment_.empty()) WriteComment(Comment_);
    WriteComment(kCreditText);
    WriteQuantTable(FilePos, 0);
    if (ComponentCount > 1) WriteQuantTable(FilePos, 1);
    WriteFrameHeader(0xC0);
    WriteHuffmanTable(FilePos, 0, false);
    WriteHuffmanTable(FilePos, 0, true);
    if (ComponentCount > 1) {
        WriteHuffmanTable(FilePos, 1, false);
        WriteHuffmanTable(FilePos, 1, true);
    }
    if (fast)
        EncodeScansFast(plan, 0, last);
    else
        EncodeScans(plan, 0, last);
    WriteMarker(0xD9);
    FileData.resize(static_cast<std::size_t>(FilePos));
}

int bmptojpg::SaveFile(const std::string& FileName) {
    if (FileName.empty()) return 1;
    AssembleFile();
    std::string reason;
    int code = 0;
    if (!pagiro::write_page_file(FileName, FileData.data(), FileData.size(), reason, nullptr, &code))
        throw code == ENOENT || code == ENOTDIR ? path_not_found() : file_access_error();
    FileData.clear();
    FileData.shrink_to_fit();
    return 0;
}

std::vector<std::uint8_t> bmptojpg::SaveBytes() {
    AssembleFile();
    std::vector<std::uint8_t> bytes(FileData.begin(), FileData.end());
    FileData.clear();
    FileData.shrink_to_fit();
    return bytes;
}
