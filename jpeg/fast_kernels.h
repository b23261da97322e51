#pragma once
// The encoder's hot loops: colour conversion, DCT, quantization and symbol
// statistics of a strip of blocks, and the entropy coding of scan rows. Built
// three times, for SSE2, AVX2 and AVX-512; all give the same bytes as the plain
// procedures of the class.
#include <cstddef>
#include <cstdint>

namespace bmptojpg_fast {

// Planar: a row's red bytes, its green bytes `plane_step` further, its blue
// bytes `plane_step` further again.
enum class SourceFormat { Rgb24, Bgrx32, Planar };

// A colour conversion factor f times 2^27 is a whole number (every factor is a
// float of at least 2^-4 with 24 significant bits), split as hi * 2^14 + lo
// with 0 <= lo < 2^14. With 8-bit samples every product and partial sum of
//   (R * r_hi + G * g_hi + B * b_hi + offset) and (R * r_lo + G * g_lo + B * b_lo),
// the factors scaled by 2^-13 and 2^-27, is exact in float, and their sum is
// rounded once: the exact value rounded to float, as the double formula gives.
// Factors: r_hi, g_hi, b_hi, offset, r_lo, g_lo, b_lo.
constexpr int kConversionFactors = 7;

// One component fed from a strip: its conversion row, its multipliers and
// where its blocks go.
struct StripOutput {
    const float* factors;         // ConversionFactors

    const float* multipliers;     // 64, index u * 8 + v (u the horizontal frequency)
    float tiny;                   // samples all below this in magnitude quantize to 0
    std::int16_t* coefficients;   // 64 per block, zig-zag order
    std::uint64_t* masks;         // per block: bit i set when zig-zag coefficient i is not 0
    std::int16_t* dcs;            // per block: its DC coefficient
    std::uint32_t* ac_counts;     // 256 AC symbol counters; [256] counts symbols above 255
};

// A row of blocks: 8 pixel rows.
struct StripJob {
    const std::uint8_t* rows[8];
    SourceFormat format;
    std::ptrdiff_t plane_step;
    int blocks;
    int outputs;
    StripOutput out[3];
};

struct HuffCodes {
    std::uint32_t code[256];
    std::uint8_t size[256];  // 0 for a symbol without a code
    std::uint32_t packed[256];  // code << 5 | size
};

struct ScanMember {
    const std::int16_t* coefficients;
    const std::uint64_t* masks;
    const std::int16_t* dcs;
    std::int64_t entries;         // coefficients held
    int H, V;
    std::int64_t blocks_across;   // of the padded plane
    std::int64_t last_column_blocks;
    const HuffCodes* dc;
    const HuffCodes* ac;
};

// A scan: one component in stored block order, or several interleaved in MCUs.
// For a one-component scan a "row" is a block row of its plane.
struct Scan {
    int count;
    bool interleaved;
    ScanMember member[3];
    std::int64_t mcus_across, mcu_rows;
};

// Bit writer with byte stuffing (or without, for a piece spliced in later).
struct BitSink {
    std::uint8_t* out;
    std::size_t pos;
    std::uint64_t acc;
    int free_bits;  // 64 - bits held in acc
};

struct Kernels {
    // 0, or 6 for a coefficient outside 16 bits.
    int (*transform_strip)(const StripJob& job);
    // Averages 2 x 2 boxes of two source rows (Rgb24 or Bgrx32) into `pixels`
    // planar pixels (a multiple of 8), rounding to the nearest, halves up.
    void (*box2_row)(const std::uint8_t* row0, const std::uint8_t* row1, SourceFormat format, int pixels,
                     std::uint8_t* r, std::uint8_t* g, std::uint8_t* b);
    // Whether every one of `pixels` pixels of `rows` rows (Rgb24 or Bgrx32), the
    // first at `first`, is grey: red, green and blue the same. Stops at the
    // first row that is not.
    bool (*grey_rows)(const std::uint8_t* first, std::ptrdiff_t stride, int rows, SourceFormat format, int pixels);
    // Splits `pixels` pixels of a row (Rgb24 or Bgrx32; a multiple of 8) into planar bytes.
    void (*planar_row)(const std::uint8_t* row, SourceFormat format, int pixels, std::uint8_t* r, std::uint8_t* g,
                       std::uint8_t* b);
    // Codes scan rows [row_begin, row_end) from the predictors (updated). 0, or 9
    // for a block outside its array. Symbols above 255 are rejected before.
    int (*encode_rows)(const Scan& scan, std::int64_t row_begin, std::int64_t row_end, std::int32_t* predictors,
                       BitSink& sink, bool stuff);
    // Appends another sink's unstuffed bits (whole bytes, then its held bits).
    void (*splice)(BitSink& sink, const BitSink& piece);
    // Pads the last byte with 1 bits and writes out what is held.
    void (*flush)(BitSink& sink, bool stuff);
    // Converts n planar pixels (n a multiple of 8) to samples of one component.
    void (*convert_pixels)(const float* factors, const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b,
                           int n, float* out);
    // Adds the DC categories of member j's blocks in rows [row_begin, row_end) in
    // scan order (dummy blocks count category 0, and are added to `dummies`),
    // starting from and updating the predictor. 0, or 9.
    int (*count_dc)(const Scan& scan, int j, std::int64_t row_begin, std::int64_t row_end, std::int32_t* predictor,
                    std::uint32_t* counts, std::int64_t* dummies);
};

// The split factors of component 0 (Y), 1 (Cb) or 2 (Cr).
const float* conversion_factors(int component);

const Kernels& sse2_kernels();
const Kernels& avx2_kernels();
const Kernels& avx512_kernels();

}  // namespace bmptojpg_fast
