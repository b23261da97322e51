#pragma once
// bmptojpg: our baseline JPEG (JFIF) encoder. One object takes one picture from a
// pixel view and writes it with 8-bit samples, Huffman tables built for that very
// picture, and either one grey component or three colour components (Y, Cb, Cr)
// with selectable sampling factors. Standard library only.
//
// Order of use: Quality and SetSamplingFrequencies (optional), then SampleHDC,
// then SaveFile as often as wanted. Comment may be set at any time before SaveFile.
// Failures are raised as VbError: number 1 with a fixed description for the
// encoder's own checks, 6 for an overflow, 9 for an index out of range, and the
// file errors 75 / 76 when the file cannot be written.
//
// Two paths through the stages, which must write the same bytes for every picture
// (the tests compare them byte for byte, and the suite can run on either):
//
//   stage                      portable reference path     vector path (x86 only)
//   taking the picture in      sampling.cpp  SampleHDC     fast_encoder.cpp  SampleFast
//   colour conversion, DCT,    dct_quant.cpp               fast_kernels.inc  transform_strip
//     quantization                                           (which also counts the AC symbols;
//                                                            colour strips that grey_rows finds
//                                                            grey are written as zeros instead)
//   Huffman tables             huffman_optimize.cpp        fast_encoder.cpp  OptimizeTablesFast
//                                OptimizeTables              + count_dc in fast_kernels.inc
//   Huffman coding of scans    huffman_coding.cpp          fast_encoder.cpp  EncodeScansFast
//                                EncodeScans                 + encode_rows in fast_kernels.inc
//   the file                   file_writer.cpp (both paths)
//
// fast_kernels.inc is built for SSE2, AVX2 and AVX-512 (fast_kernels_*.cpp);
// fast_encoder.cpp picks the set at start-up (SetCodePath). The table survey and
// the code-length rules in huffman_optimize.cpp serve both paths.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/pixel_view.h"

namespace bmptojpg_fast {
struct ScanMember;
}

class bmptojpg {
public:
    bmptojpg();

    // Quality 1 .. 100; any other value is ignored without an error.
    void Quality(int vData);
    int Quality() const;

    // Sampling factors 1 .. 4 of Y, Cb and Cr. H2, V2, H3 and V3 all 0 selects grey
    // (one component sampled 1 x 1). Discards a picture taken in before.
    void SetSamplingFrequencies(int H1, int V1, int H2, int V2, int H3, int V3);

    // Takes in the lWidth x lHeight rectangle whose top-left corner is
    // (lSrcLeft, lSrcTop) in the view. Pixels of the rectangle that lie outside
    // the view (or all of them, for an empty view) read as black, as a bitmap's
    // device context gives black outside the bitmap. Returns 0 when the picture
    // was taken in, 1 when no drawing surface could be made (a width or height
    // below 1, or no memory for it); after a 1 the object holds no picture.
    int SampleHDC(const pagiro::PixelView& lHDC, int lWidth, int lHeight, int lSrcLeft, int lSrcTop);

    // The comment is taken as bytes already in the file's character set (ANSI):
    // every byte is one character and is written as it is. At most 65533 bytes.
    void Comment(const std::string& Value);
    std::string Comment() const;

    // Writes the picture to FileName (a UTF-8 path). Returns 1 for an empty name
    // (nothing done) and 0 when written. The file is written under a temporary
    // name in the same folder and then put in place, so a failure never leaves a
    // partial file behind and an older, longer file is replaced whole.
    int SaveFile(const std::string& FileName);

    // The bytes SaveFile would write, without a file; the same errors but the file's.
    std::vector<std::uint8_t> SaveBytes();

    // The same bytes left in the encoder's own buffer, without a copy: valid until
    // the next call on the object. The buffer is kept for the next picture, so an
    // encoder used for page after page asks for memory only when a page is larger.
    std::span<const std::uint8_t> SaveView();

    // Threads that SampleHDC and SaveFile may use for a large picture (1 or 2;
    // default 1). The bytes written do not depend on it.
    void SetThreads(int n);

    // The code that does the work: the plain procedures, or the fast paths for the
    // x86-64 baseline (SSE2), for AVX2 or for AVX-512. Chosen once from the
    // processor, or from PAGIRO_JPEG_PATH (plain, sse2 or avx2); all give the same
    // bytes. Avx512 falls back to Avx2, and Avx2 to Sse2, on a processor without
    // it; a build without the vector paths (PAGIRO_SIMD off, or not x86) has only
    // Plain. Takes effect at the next SampleHDC.
    enum class CodePath { Plain, Sse2, Avx2, Avx512 };
    static void SetCodePath(CodePath path);
    static CodePath ActiveCodePath();

private:
    friend struct bmptojpg_test_access;

    // Leaves new elements uninitialised: arrays that are written whole before
    // they are read need no clearing first.
    template <typename T>
    struct NoInitAllocator : std::allocator<T> {
        template <typename U>
        struct rebind {
            using other = NoInitAllocator<U>;
        };
        NoInitAllocator() = default;
        template <typename U>
        NoInitAllocator(const NoInitAllocator<U>&) {}
        template <typename U, typename... Args>
        void construct(U* p, Args&&... args) {
            if constexpr (sizeof...(Args) == 0)
                ::new (static_cast<void*>(p)) U;
            else
                ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
        }
    };
    using CoefficientArray = std::vector<std::int16_t, NoInitAllocator<std::int16_t>>;
    using ByteArray = std::vector<std::uint8_t, NoInitAllocator<std::uint8_t>>;

    struct ComponentRecord {
        int Id = 0;
        int H = 0;
        int V = 0;
        int QuantTable = 0;
        CoefficientArray Coefficients;
    };
    struct QuantTableRecord {
        std::array<std::int16_t, 64> Values{};
        std::array<float, 64> Multipliers{};
    };
    struct HuffmanTableRecord {
        std::array<std::uint8_t, 16> Counts{};
        std::array<std::uint8_t, 256> Symbols{};
        std::array<std::int32_t, 256> CodeMask{};
        std::array<std::int32_t, 256> Code{};
        // The symbols CodeMask and Code hold a code for, when CodedKnown: every
        // other entry then holds 0 and -1, so that the next table, page after
        // page, needs only those entries reset instead of both arrays whole.
        std::array<std::uint64_t, 4> Coded{};
        bool CodedKnown = false;
    };
    // Which component each scan position codes, and with which tables.
    struct ScanPlan {
        std::vector<int> component;
        std::vector<int> dc_table;
        std::vector<int> ac_table;
    };
    struct ScanGroup {
        int first;
        int last;
    };
    using SymbolCounts = std::array<std::int32_t, 257>;
    // Which tables the scans from `first` to `last` use, and which positions
    // stand in an interleaved scan; the table numbers are checked here.
    struct TableUse {
        std::vector<bool> interleaved;
        bool dc_in_use[4] = {};
        bool ac_in_use[4] = {};
    };

    // DCT and quantization
    void ForwardDCT();
    void ScaleQuantTable(int n);
    void QuantizeBlock(CoefficientArray& coefficients, std::int32_t& p, const std::array<float, 64>& multipliers);
    void FillQuantTables(int q);
    void ComputeQuantTables(int q);

    // Huffman table optimisation
    static void OptimizeHuffmanTable(HuffmanTableRecord& table, SymbolCounts& counts);
    // The same tables as OptimizeHuffmanTable, merging through two queues. The counts
    // from symbol_limit to 255 must be 0 (a DC table has 17 categories at most).
    static void OptimizeHuffmanTableFast(HuffmanTableRecord& table, SymbolCounts& counts, int symbol_limit = 256);
    static void ExpandHuffmanTable(HuffmanTableRecord& table, int largest_symbol);
    static void CountACSymbols(const CoefficientArray& coefficients, SymbolCounts& counts);
    static void CountDCSymbols(const CoefficientArray& coefficients, SymbolCounts& counts);
    void CountDCSymbolsInterleaved(const CoefficientArray& coefficients, SymbolCounts& counts, int H, int V) const;
    void CountDummyBlockEOBs(const CoefficientArray& coefficients, SymbolCounts& counts, int H, int V) const;
    TableUse SurveyTables(const ScanPlan& plan, int first, int last) const;
    std::int32_t OptimizeTables(const ScanPlan& plan, int first, int last);

    // Huffman coding
    void ResetBitBuffer();
    void FlushBitBuffer();
    void WriteBits(std::int32_t mask, std::int32_t value);
    void EncodeBlock(const CoefficientArray& coefficients, std::int32_t& p, std::int32_t& predictor, int dc_table, int ac_table);
    void EncodeSingleScan(int component, int dc_table, int ac_table);
    void EncodeInterleavedScan(const ScanPlan& plan, int first, int last);
    void EncodeScans(const ScanPlan& plan, int first, int last);
    std::vector<ScanGroup> ScanGroups(const ScanPlan& plan, int first, int last) const;
    // Walks one component's blocks in the MCU order of an interleaved scan, handing
    // each real block's start to `visit`, and -1 for each dummy block.
    void WalkInterleaved(std::size_t coefficient_count, int H, int V, const std::function<void(std::int64_t)>& visit) const;

    // Fast paths: sampling with per-block statistics, and the scans coded from them.
    int SampleFast(const pagiro::PixelView& view, int lWidth, int lHeight, int lSrcLeft, int lSrcTop, CodePath path);
    std::int32_t OptimizeTablesFast(const ScanPlan& plan, int first, int last);
    void EncodeScansFast(const ScanPlan& plan, int first, int last);
    // Where component c's blocks and statistics are, for the scan kernels.
    void FillScanMember(int c, bmptojpg_fast::ScanMember& m) const;

    // File writer
    void PutByte(std::int64_t index, int value);
    // n bytes from index on, growing the file as PutByte does.
    void PutBytes(std::int64_t index, const std::uint8_t* data, std::size_t n);
    // n bytes at FilePos, which moves on past them.
    void Append(const std::uint8_t* data, std::size_t n);
    struct Segment;
    // Writes a finished marker segment at start; FilePos ends past it.
    void WriteSegment(std::int32_t start, Segment& segment);
    void WriteMarker(int code);
    void WriteJFIFHeader();
    void WriteComment(const std::string& text);
    void WriteQuantTable(std::int32_t start, int id);
    void WriteFrameHeader(int code);
    void WriteHuffmanTable(std::int32_t start, int id, bool ac);
    void WriteScanHeader(const ScanPlan& plan, int first, int last);
    void AssembleFile();

    // Settings
    int Quality_ = 75;
    std::string Comment_;
    int ComponentCount = 3;
    std::vector<ComponentRecord> Components;
    int HMax = 2;
    int VMax = 2;

    // Picture
    int Precision = 0;
    int Width = 0;
    int Height = 0;

    // Fixed tables. ZigZag[column][row].
    int ZigZag[8][8]{};
    std::array<std::int16_t, 64> LuminanceBase{};
    std::array<std::int16_t, 64> ChrominanceBase{};
    std::array<double, 8> ScaleFactors{};

    std::array<QuantTableRecord, 4> QuantTables{};
    std::array<HuffmanTableRecord, 4> DCTables{};
    std::array<HuffmanTableRecord, 4> ACTables{};
    ScanPlan Plan;  // the file's scans; kept so that a page asks for no memory for it

    // Working storage. Block[column][row].
    float Block[8][8]{};
    ByteArray FileData;
    std::int32_t FilePos = 0;
    std::int32_t CurrentByte = 0;
    std::int32_t BitMask = 128;

    // What the fast sampling leaves for SaveFile, one record per component. A block
    // whose mask holds no AC coefficient has its DC coefficient in dcs only: its
    // entries in the component's Coefficients are left as they were.
    struct FastComponent {
        std::vector<std::uint64_t, NoInitAllocator<std::uint64_t>> masks;  // non-zero coefficients per block
        CoefficientArray dcs;                                               // DC coefficient per block
        std::array<std::uint32_t, 257> ac_counts{};  // AC symbols; [256] symbols above 255
        std::int64_t dummy_blocks = 0;
    };
    std::vector<FastComponent> Fast;  // empty unless the picture was taken in by a fast path
    std::vector<std::uint8_t> Strips[2];  // the fast sampling's planar strips, one per thread
    CodePath FastPath = CodePath::Plain;
    std::int32_t FastEstimate = 0;
    int Threads = 1;
};
