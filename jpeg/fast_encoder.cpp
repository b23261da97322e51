// The fast paths: planes read straight from the picture where they can be (a
// plain copy, or a 2 x 2 box for half-size planes), blocks transformed and
// counted strip by strip (colour strips of grey pixels, which quantize to
// zeros, written straight away), and scans coded from per-block masks,
// optionally on two threads. The bytes are those of the plain procedures.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include "bmptojpg.h"
#include "detail.h"
#include "fast_kernels.h"
#include "platform/resample.h"

using bmptojpg_detail::check_index;
using bmptojpg_fast::Kernels;
using bmptojpg_fast::SourceFormat;

namespace {

#if PAGIRO_SIMD
// The checks of the processor: the AVX2 build of the kernels may use every
// x86-64-v3 instruction, the AVX-512 build every x86-64-v4 one; SSE2 is part of
// every x86-64 processor.
bool cpu_has_avx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("x86-64-v3");
}

bool cpu_has_avx512() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("x86-64-v4");
}

bmptojpg::CodePath usable(bmptojpg::CodePath path) {
    if (path == bmptojpg::CodePath::Avx512 && !cpu_has_avx512()) path = bmptojpg::CodePath::Avx2;
    if (path == bmptojpg::CodePath::Avx2 && !cpu_has_avx2()) path = bmptojpg::CodePath::Sse2;
    return path;
}

bmptojpg::CodePath initial_path() {
    if (const char* env = std::getenv("PAGIRO_JPEG_PATH")) {
        const std::string v = env;
        if (v == "plain") return bmptojpg::CodePath::Plain;
        if (v == "sse2") return bmptojpg::CodePath::Sse2;
        if (v == "avx2") return usable(bmptojpg::CodePath::Avx2);
    }
    return usable(bmptojpg::CodePath::Avx512);
}

const Kernels& kernels_for(bmptojpg::CodePath path) {
    switch (path) {
    case bmptojpg::CodePath::Avx512:
        return bmptojpg_fast::avx512_kernels();
    case bmptojpg::CodePath::Avx2:
        return bmptojpg_fast::avx2_kernels();
    default:
        return bmptojpg_fast::sse2_kernels();
    }
}
#else
// Built without the vector kernels: every picture takes the plain procedures.
bmptojpg::CodePath initial_path() { return bmptojpg::CodePath::Plain; }
bmptojpg::CodePath usable(bmptojpg::CodePath) { return bmptojpg::CodePath::Plain; }
const Kernels& kernels_for(bmptojpg::CodePath) { throw VbError(5, "No vector path in this build"); }
#endif

std::atomic<bmptojpg::CodePath>& path_setting() {
    static std::atomic<bmptojpg::CodePath> path{initial_path()};
    return path;
}

// Red, green and blue factors and offset of each component.
const float kConversion[3][4] = {
    {0.299f, 0.587f, 0.114f, -128.0f},
    {-0.16874f, -0.33126f, 0.5f, 0.0f},
    {0.5f, -0.41869f, -0.08131f, 0.0f},
};

// The factors split for the float lanes of the kernels, and the largest
// magnitude a grey pixel (red = green = blue) converts to in each component.
// The colour factors nearly cancel: Cb of a grey is 0, Cr at most 255 * 2^-27.
struct SplitFactors {
    float f[3][bmptojpg_fast::kConversionFactors];
    float grey[3];
    SplitFactors() {
        for (int c = 0; c < 3; ++c) {
            for (int k = 0; k < 3; ++k) {
                const auto whole = static_cast<std::int64_t>(std::ldexp(static_cast<double>(kConversion[c][k]), 27));
                const std::int64_t hi = whole >= 0 ? whole >> 14 : -((-whole + (1 << 14) - 1) >> 14);
                const std::int64_t lo = whole - hi * (1 << 14);
                f[c][k] = static_cast<float>(std::ldexp(static_cast<double>(hi), -13));
                f[c][4 + k] = static_cast<float>(std::ldexp(static_cast<double>(lo), -27));
            }
            f[c][3] = kConversion[c][3];
            // Rounded as the kernels round: the exact value, once, to float.
            grey[c] = 0;
            for (int v = 0; v < 256; ++v) {
                const double g = static_cast<double>(v);
                const double exact = ((g * kConversion[c][0] + g * kConversion[c][1]) + g * kConversion[c][2]) + kConversion[c][3];
                grey[c] = std::max(grey[c], std::fabs(static_cast<float>(exact)));
            }
        }
    }
};
const SplitFactors kSplit;

int round_up_8(std::int64_t v) { return static_cast<int>((v + 7) / 8 * 8); }

int plane_size(int size, int factor, int largest) {
    return static_cast<int>(-std::floor(-(static_cast<double>(size) * factor) / largest));
}

// Pictures at least this large are shared between threads.
constexpr std::int64_t kThreadedPixels = 1 << 18;

// Runs work(0) on this thread and work(1) on another when two are wanted (or
// after work(0) on this one, when no thread can be started).
template <typename F>
void run_split(bool two, F&& work) {
    if (!two) {
        work(0);
        return;
    }
    std::thread other;
    try {
        other = std::thread([&] { work(1); });
    } catch (const std::system_error&) {
        work(0);
        work(1);
        return;
    }
    work(0);
    other.join();
}

// Where a plane's pixels come from.
struct PlaneSource {
    enum Mode { Copy, Box2 } mode;
    const std::uint8_t* origin;  // plane pixel (0, 0) (Copy) or its first source pixel (Box2)
    std::ptrdiff_t stride;
    SourceFormat format;
    int w, h;

    int bpp() const { return format == SourceFormat::Bgrx32 ? 4 : 3; }
    const std::uint8_t* row(int y) const { return origin + static_cast<std::ptrdiff_t>(y) * stride; }

    // Whether every source pixel of plane rows y0 .. y1 (below h) is grey.
    bool grey_rows(const Kernels& k, int y0, int y1) const {
        if (mode == Copy) return k.grey_rows(row(y0), stride, y1 - y0 + 1, format, w);
        return k.grey_rows(row(2 * y0), stride, 2 * (y1 - y0 + 1), format, 2 * w);
    }

    // Plane pixel (x, y) as red, green, blue, for x < w and y < h.
    void pixel(int x, int y, std::uint8_t rgb[3]) const {
        const int ri = format == SourceFormat::Bgrx32 ? 2 : 0, bi = format == SourceFormat::Bgrx32 ? 0 : 2;
        const int idx[3] = {ri, 1, bi};
        if (mode == Copy) {
            const std::uint8_t* p = row(y) + static_cast<std::ptrdiff_t>(x) * bpp();
            for (int c = 0; c < 3; ++c) rgb[c] = p[idx[c]];
            return;
        }
        const std::uint8_t* p0 = row(2 * y) + static_cast<std::ptrdiff_t>(2 * x) * bpp();
        const std::uint8_t* p1 = row(2 * y + 1) + static_cast<std::ptrdiff_t>(2 * x) * bpp();
        for (int c = 0; c < 3; ++c) {
            const int s = p0[idx[c]] + p0[bpp() + idx[c]] + p1[idx[c]] + p1[bpp() + idx[c]];
            rgb[c] = static_cast<std::uint8_t>((s + 2) >> 2);
        }
    }
};

}  // namespace

const float* bmptojpg_fast::conversion_factors(int component) { return kSplit.f[component]; }

void bmptojpg::SetCodePath(CodePath path) {
    path_setting().store(usable(path));
}

bmptojpg::CodePath bmptojpg::ActiveCodePath() { return path_setting().load(); }

void bmptojpg::SetThreads(int n) { Threads = n < 1 ? 1 : n > 2 ? 2 : n; }

int bmptojpg::SampleFast(const pagiro::PixelView& view, int lWidth, int lHeight, int lSrcLeft, int lSrcTop,
                         CodePath path) {
    Precision = 8;
    Height = lHeight;
    Width = lWidth;
    if (lWidth < 1 || lHeight < 1) {
        for (ComponentRecord& c : Components) c.Coefficients.clear();
        return 1;
    }
    const std::int64_t sw = round_up_8(lWidth);
    const std::int64_t sh = round_up_8(lHeight);
    if (sw * sh * 3 > INT32_MAX) throw VbError::overflow();

    const Kernels& k = kernels_for(path);
    const bool inside = !view.empty() && lSrcLeft >= 0 && lSrcTop >= 0 &&
                        std::int64_t{lSrcLeft} + lWidth <= view.width && std::int64_t{lSrcTop} + lHeight <= view.height;
    const SourceFormat view_format = view.format == pagiro::PixelFormat::Bgrx32 ? SourceFormat::Bgrx32 : SourceFormat::Rgb24;
    const bool two = Threads >= 2 && std::int64_t{lWidth} * lHeight >= kThreadedPixels;

    struct Plane {
        int w, h, pw, ph;
        int members[3];
        int count;
    };
    Plane planes[3];
    int plane_count = 0;
    // The records of the previous picture are taken over, so that a run of pages
    // of one size keeps its arrays instead of asking for new ones each page.
    std::vector<FastComponent> fast = std::move(Fast);
    Fast.clear();
    fast.resize(static_cast<std::size_t>(ComponentCount));
    for (FastComponent& f : fast) {
        f.ac_counts.fill(0);
        f.dummy_blocks = 0;
    }
    for (int c = 0; c < ComponentCount; ++c) {
        ComponentRecord& comp = Components[static_cast<std::size_t>(c)];
        comp.Id = c + 1;
        const int w = plane_size(Width, comp.H, HMax);
        const int h = plane_size(Height, comp.V, VMax);
        const int pw = round_up_8(w), ph = round_up_8(h);
        if (std::int64_t{pw} * ph * 2 > INT32_MAX) throw VbError::overflow();
        const std::size_t entries = static_cast<std::size_t>(pw) * static_cast<std::size_t>(ph);
        comp.Coefficients.resize(entries);
        fast[static_cast<std::size_t>(c)].masks.resize(entries / 64);
        fast[static_cast<std::size_t>(c)].dcs.resize(entries / 64);
        int p = 0;
        while (p < plane_count && (planes[p].w != w || planes[p].h != h)) ++p;
        if (p == plane_count) planes[plane_count++] = {w, h, pw, ph, {}, 0};
        planes[p].members[planes[p].count++] = c;
    }

    float multipliers[3][64];
    float tiny[3];
    for (int c = 0; c < ComponentCount; ++c) {
        const auto& m = QuantTables[static_cast<std::size_t>(Components[static_cast<std::size_t>(c)].QuantTable)].Multipliers;
        float largest = 0;
        for (int u = 0; u < 8; ++u)
            for (int v = 0; v < 8; ++v) {
                const float f = m[static_cast<std::size_t>(ZigZag[u][v])];
                multipliers[c][u * 8 + v] = f;
                largest = std::max(largest, std::fabs(f));
            }
        // Every step of a transform pass at most doubles the largest magnitude or
        // scales a sum of three by a constant below 1.31: the two passes grow it
        // less than 180 times. Samples below this quantize to 0 everywhere.
        tiny[c] = largest > 0 ? 1.0f / (512.0f * largest) : 0.0f;
    }
    // Pages are mostly black text on white: grey throughout. A colour component
    // whose grey samples all stay within `tiny` quantizes to zeros wherever its
    // pixels are grey (a block of one value to a DC below 1/8, any other block
    // by the bound above), so such strips are written without being computed.
    // With the standard tables that holds at every quality.
    bool grey_is_zero[3] = {};
    bool plane_has_grey_zero[3] = {};
    for (int c = 1; c < ComponentCount; ++c) grey_is_zero[c] = tiny[c] > 0 && kSplit.grey[c] <= tiny[c];
    for (int p = 0; p < plane_count; ++p)
        for (int o = 0; o < planes[p].count; ++o) plane_has_grey_zero[p] = plane_has_grey_zero[p] || grey_is_zero[planes[p].members[o]];

    // Where each plane comes from: the picture itself, 2 x 2 boxes of it, or a
    // copy scaled by the resampler.
    PlaneSource sources[3];
    std::vector<std::uint8_t> scaled[3];
    const std::uint8_t* view_origin =
        inside ? view.data + static_cast<std::ptrdiff_t>(lSrcTop) * view.stride +
                     static_cast<std::ptrdiff_t>(lSrcLeft) * (view_format == SourceFormat::Bgrx32 ? 4 : 3)
               : nullptr;
    for (int p = 0; p < plane_count; ++p) {
        const Plane& plane = planes[p];
        if (inside && plane.w == Width && plane.h == Height) {
            sources[p] = {PlaneSource::Copy, view_origin, view.stride, view_format, plane.w, plane.h};
        } else if (inside && Width == 2 * plane.w && Height == 2 * plane.h) {
            sources[p] = {PlaneSource::Box2, view_origin, view.stride, view_format, plane.w, plane.h};
        } else {
            std::vector<std::uint8_t>& buffer = scaled[p];
            try {
                buffer.assign(static_cast<std::size_t>(plane.w) * static_cast<std::size_t>(plane.h) * 3, 0);
            } catch (const std::bad_alloc&) {
                for (ComponentRecord& c : Components) c.Coefficients.clear();
                return 1;
            }
            const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(plane.w) * 3;
            if (plane.w == Width && plane.h == Height) {
                for (int y = 0; y < plane.h; ++y)
                    for (int x = 0; x < plane.w; ++x)
                        pagiro::read_rgb(view, std::int64_t{lSrcLeft} + x, std::int64_t{lSrcTop} + y, buffer.data() + y * stride + x * 3);
            } else if (!pagiro::resample_area(view, lSrcLeft, lSrcTop, lWidth, lHeight, buffer.data(), stride, plane.w, plane.h)) {
                pagiro::resample_nearest(view, lSrcLeft, lSrcTop, lWidth, lHeight, buffer.data(), stride, plane.w, plane.h);
            }
            sources[p] = {PlaneSource::Copy, buffer.data(), stride, SourceFormat::Rgb24, plane.w, plane.h};
        }
    }

    // AC symbol counts: the first thread's go straight to the components, the
    // second thread's are added afterwards.
    std::vector<std::array<std::uint32_t, 257>> second_counts(two ? static_cast<std::size_t>(ComponentCount) : 0);
    std::atomic<int> failure{0};
    int widest = 0;
    for (int p = 0; p < plane_count; ++p) widest = std::max(widest, planes[p].pw);

    // Per thread a planar strip: red rows, then green rows, then blue rows, each
    // row pw bytes. Made here: nothing may throw on the second thread.
    std::vector<std::uint8_t>* strips = Strips;
    for (int t = 0; t < (two ? 2 : 1); ++t) strips[t].resize(static_cast<std::size_t>(widest) * 24 + 64);

    run_split(two, [&](int t) {
        std::vector<std::uint8_t>& strip = strips[t];
        auto process = [&](int p, int b) {
            const Plane& plane = planes[p];
            const PlaneSource& src = sources[p];
            const int blocks_across = plane.pw / 8;
            const std::size_t block = static_cast<std::size_t>(b) * static_cast<std::size_t>(blocks_across);
            // The padding repeats the plane's last row and column: its own rows decide.
            const bool grey = plane_has_grey_zero[p] && src.grey_rows(k, 8 * b, std::min(8 * b + 7, plane.h - 1));
            bmptojpg_fast::StripJob job{};
            job.outputs = 0;
            for (int o = 0; o < plane.count; ++o) {
                const int c = plane.members[o];
                FastComponent& f = fast[static_cast<std::size_t>(c)];
                std::int16_t* coefficients = Components[static_cast<std::size_t>(c)].Coefficients.data() + block * 64;
                std::uint32_t* counts = t == 0 ? f.ac_counts.data() : second_counts[static_cast<std::size_t>(c)].data();
                if (grey && grey_is_zero[c]) {
                    // What the transform gives: zeros, and one end of block each.
                    // Blocks without AC coefficients keep only their DC (zero here).
                    const auto n = static_cast<std::size_t>(blocks_across);
                    std::memset(f.masks.data() + block, 0, n * sizeof(std::uint64_t));
                    std::memset(f.dcs.data() + block, 0, n * sizeof(std::int16_t));
                    counts[0] += static_cast<std::uint32_t>(n);
                    continue;
                }
                job.out[job.outputs++] = {kSplit.f[c], multipliers[c], tiny[c], coefficients, f.masks.data() + block,
                                          f.dcs.data() + block, counts};
            }
            if (job.outputs == 0) return 0;
            const bool full_rows = 8 * b + 7 < plane.h;
            int done = 0;
            if (full_rows && src.mode == PlaneSource::Copy && plane.w >= 8) {
                job.format = src.format;
                job.blocks = plane.w / 8;
                for (int r = 0; r < 8; ++r) job.rows[r] = src.row(8 * b + r);
                const int e = k.transform_strip(job);
                if (e != 0) return e;
                done = job.blocks;
                if (done == blocks_across) return 0;
            }
            // The rest of the strip as planar rows, padded by repeating the last
            // column and the last row.
            const std::ptrdiff_t step = static_cast<std::ptrdiff_t>(plane.pw) * 8;
            const int vector_pixels = plane.w / 8 * 8;
            std::uint8_t rgb[3];
            for (int r = 0; r < 8; ++r) {
                std::uint8_t* out = strip.data() + r * plane.pw;
                if (8 * b + r >= plane.h && r > 0) {
                    for (int ch = 0; ch < 3; ++ch)
                        std::memcpy(out + ch * step, out + ch * step - plane.pw, static_cast<std::size_t>(plane.pw));
                    continue;
                }
                const int y = 8 * b + r < plane.h ? 8 * b + r : plane.h - 1;
                int x = done * 8;
                if (vector_pixels > x) {
                    if (src.mode == PlaneSource::Box2)
                        k.box2_row(src.row(2 * y), src.row(2 * y + 1), src.format, vector_pixels - x, out + x, out + step + x,
                                   out + 2 * step + x);
                    else
                        k.planar_row(src.row(y) + static_cast<std::ptrdiff_t>(x) * src.bpp(), src.format, vector_pixels - x,
                                     out + x, out + step + x, out + 2 * step + x);
                    x = vector_pixels;
                }
                for (; x < plane.pw; ++x) {
                    src.pixel(x < plane.w ? x : plane.w - 1, y, rgb);
                    for (int ch = 0; ch < 3; ++ch) out[ch * step + x] = rgb[ch];
                }
            }
            job.format = SourceFormat::Planar;
            job.plane_step = step;
            job.blocks = blocks_across - done;
            for (int r = 0; r < 8; ++r) job.rows[r] = strip.data() + r * plane.pw + done * 8;
            for (int o = 0; o < job.outputs; ++o) {
                job.out[o].coefficients += static_cast<std::ptrdiff_t>(done) * 64;
                job.out[o].masks += done;
                job.out[o].dcs += done;
            }
            return k.transform_strip(job);
        };

        // Strips of all planes in step down the picture, so that the rows of the
        // source are read while they are still in the cache.
        int first[3], last[3], next[3];
        bool pending = false;
        for (int p = 0; p < plane_count; ++p) {
            const int strips = planes[p].ph / 8;
            first[p] = two ? (t == 0 ? 0 : strips / 2) : 0;
            last[p] = two ? (t == 0 ? strips / 2 : strips) : strips;
            next[p] = first[p];
            pending = pending || first[p] < last[p];
        }
        int driver = 0;
        for (int p = 1; p < plane_count; ++p)
            if (planes[p].ph > planes[driver].ph) driver = p;
        const std::int64_t n0 = planes[driver].ph / 8;
        for (std::int64_t s = first[driver]; pending; ++s) {
            pending = false;
            for (int p = 0; p < plane_count; ++p) {
                const std::int64_t np = planes[p].ph / 8;
                while (next[p] < last[p] && (s >= last[driver] - 1 || (next[p] + 1) * n0 <= (s + 1) * np)) {
                    if (failure.load(std::memory_order_relaxed) != 0) return;
                    const int e = process(p, next[p]++);
                    if (e != 0) {
                        failure.store(e);
                        return;
                    }
                }
                pending = pending || next[p] < last[p];
            }
        }
    });
    if (failure.load() != 0) {
        for (ComponentRecord& c : Components) c.Coefficients.clear();
        throw VbError::overflow();
    }

    for (std::size_t c = 0; c < second_counts.size(); ++c)
        for (std::size_t s = 0; s < 257; ++s) fast[c].ac_counts[s] += second_counts[c][s];
    Fast = std::move(fast);
    FastPath = path;
    return 0;
}


void bmptojpg::FillScanMember(int c, bmptojpg_fast::ScanMember& m) const {
    const ComponentRecord& comp = Components[static_cast<std::size_t>(c)];
    const std::int64_t w = static_cast<std::int64_t>(-std::floor(-(static_cast<double>(Width) * comp.H) / HMax));
    const std::int64_t b = (7 + w) / 8;
    m.coefficients = comp.Coefficients.data();
    m.masks = Fast[static_cast<std::size_t>(c)].masks.data();
    m.dcs = Fast[static_cast<std::size_t>(c)].dcs.data();
    m.entries = static_cast<std::int64_t>(comp.Coefficients.size());
    m.H = comp.H;
    m.V = comp.V;
    m.blocks_across = b;
    m.last_column_blocks = b % comp.H == 0 ? comp.H : b % comp.H;
}

std::int32_t bmptojpg::OptimizeTablesFast(const ScanPlan& plan, int first, int last) {
    const Kernels& k = kernels_for(FastPath);
    const std::size_t positions = plan.component.size();
    const TableUse use = SurveyTables(plan, first, last);
    const std::vector<bool>& interleaved = use.interleaved;
    const bool* dc_in_use = use.dc_in_use;
    const bool* ac_in_use = use.ac_in_use;

    const std::int64_t mcus_across = (std::int64_t{Width} + 8 * HMax - 1) / (8 * HMax);
    const std::int64_t mcu_rows = (std::int64_t{Height} + 8 * VMax - 1) / (8 * VMax);
    auto member_of = [&](int c) {
        bmptojpg_fast::ScanMember m{};
        FillScanMember(c, m);
        return m;
    };

    SymbolCounts counts{};
    bmptojpg_detail::ByteTally tally;
    // The bits a table codes: every symbol that occurs has a code, so the walk
    // over the table's symbols by code length meets each of them once.
    auto coded_bits = [](const HuffmanTableRecord& t, const std::int64_t* occurrences, auto extra_bits) {
        std::int64_t bits = 0;
        std::size_t k = 0;
        for (int length = 1; length <= 16; ++length)
            for (int n = t.Counts[static_cast<std::size_t>(length - 1)]; n > 0; --n) {
                const int s = t.Symbols[k++];
                bits += occurrences[s] * (length + extra_bits(s));
            }
        return bits;
    };
    auto require_picture = [](const ComponentRecord& comp) {
        if (comp.Coefficients.empty()) throw VbError::subscript_out_of_range();
    };
    // The DC statistics of every position, in its scan's block order: on two
    // threads for a large picture, each taking half of the rows.
    struct DcStats {
        std::uint32_t counts[17];
        std::int64_t dummies;
    };
    std::vector<bmptojpg_fast::Scan> scans(positions);
    for (int i = first; i <= last; ++i) {
        const std::size_t at = static_cast<std::size_t>(i);
        check_index(plan.component[at], Components.size());
        require_picture(Components[static_cast<std::size_t>(plan.component[at])]);
        bmptojpg_fast::Scan& scan = scans[at];
        scan.count = 1;
        scan.interleaved = interleaved[at];
        scan.member[0] = member_of(plan.component[at]);
        scan.mcus_across = mcus_across;
        scan.mcu_rows = mcu_rows;
    }
    auto scan_rows = [](const bmptojpg_fast::Scan& scan) {
        const bmptojpg_fast::ScanMember& m = scan.member[0];
        return scan.interleaved ? scan.mcu_rows : (m.entries / 64 + m.blocks_across - 1) / m.blocks_across;
    };
    const bool two = Threads >= 2 && std::int64_t{Width} * Height >= kThreadedPixels;
    std::vector<DcStats> stats(2 * positions, DcStats{});
    int errors[2] = {0, 0};
    run_split(two, [&](int t) {
        for (int i = first; i <= last; ++i) {
            const std::size_t at = static_cast<std::size_t>(i);
            const bmptojpg_fast::Scan& scan = scans[at];
            const std::int64_t rows = scan_rows(scan);
            const std::int64_t mid = two ? rows / 2 : rows;
            const std::int64_t begin = t == 0 ? 0 : mid, end = t == 0 ? mid : rows;
            DcStats& st = stats[static_cast<std::size_t>(t) * positions + at];
            std::int32_t predictor = 0;
            if (begin > 0) {
                // The predictor is the DC value of the last block before the half.
                DcStats scratch{};
                errors[t] |= k.count_dc(scan, 0, begin - 1, begin, &predictor, scratch.counts, &scratch.dummies);
            }
            errors[t] |= k.count_dc(scan, 0, begin, end, &predictor, st.counts, &st.dummies);
        }
    });
    if (errors[0] != 0 || errors[1] != 0) throw VbError::subscript_out_of_range();
    std::vector<std::int64_t> dummies(positions, 0);
    for (std::size_t at = 0; at < positions; ++at) dummies[at] = stats[at].dummies + stats[positions + at].dummies;

    for (int t = 0; t < 4; ++t) {
        if (dc_in_use[t]) {
            std::int64_t dc[17] = {};
            for (int i = first; i <= last; ++i) {
                const std::size_t at = static_cast<std::size_t>(i);
                if (plan.dc_table[at] != t) continue;
                for (int s = 0; s < 17; ++s) dc[s] += std::int64_t{stats[at].counts[s]} + stats[positions + at].counts[s];
            }
            for (int s = 0; s < 17; ++s) {
                if (dc[s] > INT32_MAX) throw VbError::overflow();
                counts[static_cast<std::size_t>(s)] = static_cast<std::int32_t>(dc[s]);
            }
            HuffmanTableRecord& table = DCTables[static_cast<std::size_t>(t)];
            OptimizeHuffmanTableFast(table, counts, 17);
            ExpandHuffmanTable(table, Precision == 12 ? 15 : 11);
            tally.add_bits(coded_bits(table, dc, [](int s) { return s; }));
        }
        if (ac_in_use[t]) {
            std::int64_t sum[256] = {};
            for (int i = first; i <= last; ++i) {
                const std::size_t at = static_cast<std::size_t>(i);
                if (plan.ac_table[at] != t) continue;
                check_index(plan.component[at], Components.size());
                const ComponentRecord& comp = Components[static_cast<std::size_t>(plan.component[at])];
                require_picture(comp);
                const FastComponent& f = Fast[static_cast<std::size_t>(plan.component[at])];
                if (f.ac_counts[256] != 0) throw VbError::subscript_out_of_range();
                for (int s = 0; s < 256; ++s) sum[s] += f.ac_counts[static_cast<std::size_t>(s)];
                if (interleaved[at]) sum[0] += dummies[at];
            }
            for (int s = 0; s < 256; ++s) {
                if (sum[s] > INT32_MAX) throw VbError::overflow();
                counts[static_cast<std::size_t>(s)] = static_cast<std::int32_t>(sum[s]);
            }
            HuffmanTableRecord& table = ACTables[static_cast<std::size_t>(t)];
            OptimizeHuffmanTableFast(table, counts);
            ExpandHuffmanTable(table, 255);
            tally.add_bits(coded_bits(table, sum, [](int s) { return s % 16; }));
        }
    }
    std::int64_t n = tally.whole_bytes();
    if (n > INT32_MAX) throw VbError::overflow();
    FastEstimate = static_cast<std::int32_t>(n);
    return static_cast<std::int32_t>(n);
}

void bmptojpg::EncodeScansFast(const ScanPlan& plan, int first, int last) {
    const Kernels& k = kernels_for(FastPath);
    bmptojpg_fast::HuffCodes dc_codes[4], ac_codes[4];
    // The codes straight from the table's counts per length and its symbols (as
    // ExpandHuffmanTable checked them): only the symbols in use are visited.
    auto derive = [](const HuffmanTableRecord& t, bmptojpg_fast::HuffCodes& out) {
        std::memset(&out, 0, sizeof out);
        std::uint32_t code = 0;
        std::size_t k = 0;
        for (int length = 1; length <= 16; ++length) {
            for (int n = t.Counts[static_cast<std::size_t>(length - 1)]; n > 0; --n, ++code) {
                const std::uint8_t symbol = t.Symbols[k++];
                out.code[symbol] = code;
                out.size[symbol] = static_cast<std::uint8_t>(length);
                out.packed[symbol] = code << 5 | static_cast<std::uint32_t>(length);
            }
            code <<= 1;
        }
    };
    bool derived_dc[4] = {}, derived_ac[4] = {};

    const std::int64_t mcus_across = (std::int64_t{Width} + 8 * HMax - 1) / (8 * HMax);
    const std::int64_t mcu_rows = (std::int64_t{Height} + 8 * VMax - 1) / (8 * VMax);
    const std::vector<ScanGroup> groups = ScanGroups(plan, first, last);
    for (const ScanGroup& g : groups) {
        bmptojpg_fast::Scan scan{};
        scan.count = g.last - g.first + 1;
        scan.interleaved = scan.count > 1;
        scan.mcus_across = mcus_across;
        scan.mcu_rows = mcu_rows;
        if (scan.interleaved) {
            WriteScanHeader(plan, g.first, g.last);
        } else {
            const std::size_t at = static_cast<std::size_t>(g.first);
            ScanPlan one{{plan.component[at]}, {plan.dc_table[at]}, {plan.ac_table[at]}};
            WriteScanHeader(one, 0, 0);
        }
        for (int j = 0; j < scan.count; ++j) {
            const std::size_t at = static_cast<std::size_t>(g.first + j);
            const int c = plan.component[at];
            const ComponentRecord& comp = Components[static_cast<std::size_t>(c)];
            if (comp.Coefficients.empty()) throw VbError::subscript_out_of_range();
            const int dt = plan.dc_table[at], at_ = plan.ac_table[at];
            bmptojpg_detail::check_table_id(dt);
            bmptojpg_detail::check_table_id(at_);
            if (!derived_dc[dt]) derive(DCTables[static_cast<std::size_t>(dt)], dc_codes[dt]), derived_dc[dt] = true;
            if (!derived_ac[at_]) derive(ACTables[static_cast<std::size_t>(at_)], ac_codes[at_]), derived_ac[at_] = true;
            bmptojpg_fast::ScanMember& m = scan.member[j];
            FillScanMember(c, m);
            m.dc = &dc_codes[dt];
            m.ac = &ac_codes[at_];
        }
        const std::int64_t rows =
            scan.interleaved ? mcu_rows : (scan.member[0].entries / 64 + scan.member[0].blocks_across - 1) / scan.member[0].blocks_across;

        // The estimate counts every bit of the scans; stuffing at most doubles the bytes.
        const std::int64_t room = std::int64_t{FilePos} + 2 * std::int64_t{FastEstimate} + 4096;
        if (room > INT32_MAX) throw VbError::overflow();
        if (FileData.size() < static_cast<std::size_t>(room)) FileData.resize(static_cast<std::size_t>(room));
        bmptojpg_fast::BitSink sink{FileData.data(), static_cast<std::size_t>(FilePos), 0, 64};
        std::int32_t predictors[3] = {0, 0, 0};

        const bool two = Threads >= 2 && std::int64_t{Width} * Height >= kThreadedPixels && rows >= 4;
        if (!two) {
            if (k.encode_rows(scan, 0, rows, predictors, sink, true) != 0) throw VbError::subscript_out_of_range();
        } else {
            const std::int64_t mid = rows / 2;
            // The second half starts from the DC values its blocks follow.
            std::int32_t second[3] = {0, 0, 0};
            for (int j = 0; j < scan.count; ++j) {
                std::uint32_t scratch[17] = {};
                std::int64_t dummies = 0;
                if (k.count_dc(scan, j, mid - 1, mid, &second[j], scratch, &dummies) != 0) throw VbError::subscript_out_of_range();
            }
            const std::unique_ptr<std::uint8_t[]> piece_data(new std::uint8_t[static_cast<std::size_t>(FastEstimate) + 4096]);
            bmptojpg_fast::BitSink piece{piece_data.get(), 0, 0, 64};
            int errors[2] = {0, 0};
            run_split(true, [&](int t) {
                if (t == 0)
                    errors[0] = k.encode_rows(scan, 0, mid, predictors, sink, true);
                else
                    errors[1] = k.encode_rows(scan, mid, rows, second, piece, false);
            });
            if (errors[0] != 0 || errors[1] != 0) throw VbError::subscript_out_of_range();
            k.splice(sink, piece);
        }
        k.flush(sink, true);
        FilePos = static_cast<std::int32_t>(sink.pos);
    }
}
