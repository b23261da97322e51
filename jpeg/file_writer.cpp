// The file writer: the whole JFIF file is assembled in memory, marker segment by
// marker segment around the entropy-coded scans, and then put on disk in one piece.
#include <cerrno>
#include <cstring>

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

void bmptojpg::PutBytes(std::int64_t index, const std::uint8_t* data, std::size_t n) {
    if (n == 0) return;
    if (index < 0) throw VbError::subscript_out_of_range();
    const std::int64_t end = index + static_cast<std::int64_t>(n);
    if (end - 1 > INT32_MAX) throw VbError::overflow();
    if (static_cast<std::uint64_t>(end) > FileData.size()) {
        std::size_t grown = FileData.size() * 2;
        if (grown < static_cast<std::size_t>(end)) grown = static_cast<std::size_t>(end);
        FileData.resize(grown);
    }
    std::memcpy(FileData.data() + index, data, n);
}

void bmptojpg::Append(const std::uint8_t* data, std::size_t n) {
    const std::int32_t at = FilePos;
    // Checked before anything is written, as the position moves on past the bytes.
    const std::int32_t next = bmptojpg_detail::add_i32(at, static_cast<std::int64_t>(n));
    PutBytes(at, data, n);
    FilePos = next;
}

void bmptojpg::WriteMarker(int code) {
    const std::uint8_t marker[2] = {0xFF, static_cast<std::uint8_t>(code)};
    Append(marker, 2);
}

void bmptojpg::WriteJFIFHeader() {
    static const std::uint8_t app0[18] = {0xFF, 0xE0, 0x00, 0x10, 'J',  'F',  'I',  'F',  0x00,
                                          0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
    Append(app0, sizeof app0);
}

void bmptojpg::WriteComment(const std::string& text) {
    if (text.empty()) return;
    if (text.size() > 65533) throw VbError::overflow();
    const int length = static_cast<int>(text.size()) + 2;
    const std::uint8_t head[4] = {0xFF, 0xFE, static_cast<std::uint8_t>(length / 256), static_cast<std::uint8_t>(length % 256)};
    Append(head, sizeof head);
    Append(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// A marker segment is put together here and written in one piece: the longest
// of ours, a Huffman table, takes 4 + 1 + 16 + 256 bytes.
struct bmptojpg::Segment {
    std::uint8_t bytes[4 + 1 + 16 + 256];
    std::size_t size = 0;
    explicit Segment(int marker) {
        bytes[0] = 0xFF;
        bytes[1] = static_cast<std::uint8_t>(marker);
        size = 4;  // the length goes in when the segment is done
    }
    void put(int value) { bytes[size++] = static_cast<std::uint8_t>(value); }
    // Fills in the length, which counts itself but not the marker.
    void finish() {
        const std::size_t length = size - 2;
        bytes[2] = static_cast<std::uint8_t>(length / 256);
        bytes[3] = static_cast<std::uint8_t>(length % 256);
    }
};

void bmptojpg::WriteSegment(std::int32_t start, Segment& segment) {
    segment.finish();
    FilePos = start;
    Append(segment.bytes, segment.size);
}

void bmptojpg::WriteQuantTable(std::int32_t start, int id) {
    check_table_id(id);
    const QuantTableRecord& table = QuantTables[static_cast<std::size_t>(id)];
    bool eight_bit = true;
    for (std::int16_t v : table.Values) {
        if (v < 0) throw VbError::overflow();
        if (v > 255) eight_bit = false;
    }
    Segment segment(0xDB);
    if (eight_bit) {
        segment.put(id);
        for (std::int16_t v : table.Values) segment.put(v);
    } else {
        if (Precision != 12) throw VbError(1, "Illegal precission in Quantization Table");
        segment.put(0x10 + id);
        for (std::int16_t v : table.Values) {
            segment.put(v / 256);
            segment.put(v & 0xFF);
        }
    }
    WriteSegment(start, segment);
}

void bmptojpg::WriteFrameHeader(int code) {
    if (Height >= 65536 || Width >= 65536) throw VbError::overflow();
    Segment segment(code);
    for (int b : {Precision, Height / 256, Height % 256, Width / 256, Width % 256, ComponentCount}) segment.put(b);
    for (const ComponentRecord& c : Components)
        for (int b : {c.Id, c.H * 16 + c.V, c.QuantTable}) segment.put(b);
    WriteSegment(FilePos, segment);
}

void bmptojpg::WriteHuffmanTable(std::int32_t start, int id, bool ac) {
    check_table_id(id);
    const HuffmanTableRecord& table = (ac ? ACTables : DCTables)[static_cast<std::size_t>(id)];
    Segment segment(0xC4);
    segment.put(ac ? 0x10 + id : id);
    int total = 0;
    for (std::uint8_t c : table.Counts) {
        segment.put(c);
        total += c;
    }
    if (total > 256) throw VbError::subscript_out_of_range();
    for (int i = 0; i < total; ++i) segment.put(table.Symbols[static_cast<std::size_t>(i)]);
    WriteSegment(start, segment);
}

void bmptojpg::WriteScanHeader(const ScanPlan& plan, int first, int last) {
    const int m = last - first + 1;
    if (m < 1 || m > 4) throw VbError::subscript_out_of_range();
    Segment segment(0xDA);
    segment.put(m);
    for (int j = first; j <= last; ++j) {
        const std::size_t at = static_cast<std::size_t>(j);
        bmptojpg_detail::check_index(plan.component[at], Components.size());
        segment.put(Components[static_cast<std::size_t>(plan.component[at])].Id);
        segment.put(plan.dc_table[at] * 16 + plan.ac_table[at]);
    }
    segment.put(0x00);
    segment.put(0x3F);
    segment.put(0x00);
    WriteSegment(FilePos, segment);
}

void bmptojpg::AssembleFile() {
    // Filled in the encoder's own plan: a page's fixed costs count, and after the
    // first page this asks for no memory.
    const std::size_t positions = static_cast<std::size_t>(ComponentCount);
    ScanPlan& plan = Plan;
    plan.component.resize(positions);
    plan.dc_table.assign(positions, 1);
    plan.ac_table.assign(positions, 1);
    for (std::size_t i = 0; i < positions; ++i) plan.component[i] = static_cast<int>(i);
    plan.dc_table[0] = plan.ac_table[0] = 0;
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

std::span<const std::uint8_t> bmptojpg::SaveView() {
    AssembleFile();
    return {FileData.data(), FileData.size()};
}
