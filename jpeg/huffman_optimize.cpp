// Building each picture's own Huffman tables: counting the symbols that the scans
// will code, the length-limited optimal code lengths, and the codes themselves.
#include "bmptojpg.h"
#include "detail.h"

#include <utility>

using bmptojpg_detail::check_index;
using bmptojpg_detail::magnitude_category;

namespace {

template <typename Array>
void require_picture(const Array& coefficients) {
    if (coefficients.empty()) throw VbError::subscript_out_of_range();
}

VbError bad_huffman_table() { return VbError(1, "Bad Huffman Table"); }

// From the optimal code lengths of the symbols (zero for a symbol without a
// code) to the table's counts per length, limited to 16 bits, with the reserved
// all-ones code point taken off the longest length in use. Returns the longest
// length before the limit.
template <typename Table>
int fill_counts(const std::int32_t* code_size, int symbols, Table& table) {
    std::array<std::int32_t, 257> bits{};
    int largest = 0;
    for (int v = 0; v < symbols; ++v) {
        const int size = code_size[v];
        ++bits[static_cast<std::size_t>(size)];
        if (size > largest) largest = size;
    }
    bits[0] = 0;  // the symbols without a code
    for (int i = largest; i >= 17; --i) {
        while (bits[static_cast<std::size_t>(i)] > 0) {
            int j = i - 2;
            while (bits[static_cast<std::size_t>(j)] == 0) --j;
            bits[static_cast<std::size_t>(i)] -= 2;
            bits[static_cast<std::size_t>(i - 1)] += 1;
            bits[static_cast<std::size_t>(j + 1)] += 2;
            bits[static_cast<std::size_t>(j)] -= 1;
        }
    }
    int i = largest > 16 ? 16 : largest;
    while (i > 0 && bits[static_cast<std::size_t>(i)] == 0) --i;
    if (i > 0) --bits[static_cast<std::size_t>(i)];
    for (int len = 1; len <= 16; ++len)
        table.Counts[static_cast<std::size_t>(len - 1)] = static_cast<std::uint8_t>(bits[static_cast<std::size_t>(len)]);
    return largest;
}

}  // namespace

void bmptojpg::WalkInterleaved(std::size_t coefficient_count, int H, int V,
                               const std::function<void(std::int64_t)>& visit) const {
    const std::int64_t mcus_across = (std::int64_t{Width} + 8 * HMax - 1) / (8 * HMax);
    const std::int64_t mcu_rows = (std::int64_t{Height} + 8 * VMax - 1) / (8 * VMax);
    const std::int64_t w = static_cast<std::int64_t>(-std::floor(-(static_cast<double>(Width) * H) / HMax));
    const std::int64_t blocks_across = (7 + w) / 8;
    std::vector<std::int64_t> row_start(static_cast<std::size_t>(V));
    for (int k = 0; k < V; ++k) row_start[static_cast<std::size_t>(k)] = k * blocks_across * 64;
    const std::int64_t row_skip = (V - 1) * blocks_across * 64;
    const std::int64_t last_column_blocks = blocks_across % H == 0 ? H : blocks_across % H;
    const std::int64_t last_index = static_cast<std::int64_t>(coefficient_count) - 1;

    for (std::int64_t my = 0; my < mcu_rows; ++my) {
        for (std::int64_t mx = 0; mx < mcus_across; ++mx)
            for (int k = 1; k <= V; ++k)
                for (int l = 1; l <= H; ++l) {
                    std::int64_t& start = row_start[static_cast<std::size_t>(k - 1)];
                    const bool dummy = (mx == mcus_across - 1 && l > last_column_blocks) ||
                                       (my == mcu_rows - 1 && start > last_index);
                    if (dummy) {
                        visit(-1);
                    } else {
                        check_index(start + 63, coefficient_count);
                        visit(start);
                        start += 64;
                    }
                }
        if (my != mcu_rows - 1)
            for (std::int64_t& start : row_start) start += row_skip;
    }
}

void bmptojpg::CountDCSymbols(const CoefficientArray& coefficients, SymbolCounts& counts) {
    require_picture(coefficients);
    std::int32_t predictor = 0;
    for (std::size_t b = 0; b + 64 <= coefficients.size(); b += 64) {
        ++counts[static_cast<std::size_t>(magnitude_category(std::int64_t{coefficients[b]} - predictor))];
        predictor = coefficients[b];
    }
}

void bmptojpg::CountDCSymbolsInterleaved(const CoefficientArray& coefficients, SymbolCounts& counts, int H,
                                         int V) const {
    require_picture(coefficients);
    std::int32_t predictor = 0;
    WalkInterleaved(coefficients.size(), H, V, [&](std::int64_t start) {
        if (start < 0) {
            ++counts[0];
            return;
        }
        const std::int16_t dc = coefficients[static_cast<std::size_t>(start)];
        ++counts[static_cast<std::size_t>(magnitude_category(std::int64_t{dc} - predictor))];
        predictor = dc;
    });
}

// A dummy block codes an end-of-block: count it, so that the AC table always has
// a code for it and every scan we write can be decoded.
void bmptojpg::CountDummyBlockEOBs(const CoefficientArray& coefficients, SymbolCounts& counts, int H,
                                   int V) const {
    require_picture(coefficients);
    WalkInterleaved(coefficients.size(), H, V, [&](std::int64_t start) {
        if (start < 0) ++counts[0];
    });
}

void bmptojpg::CountACSymbols(const CoefficientArray& coefficients, SymbolCounts& counts) {
    require_picture(coefficients);
    for (std::size_t b = 0; b + 64 <= coefficients.size(); b += 64) {
        int run = 0;
        for (std::size_t i = b + 1; i <= b + 63; ++i) {
            const std::int16_t v = coefficients[i];
            if (v == 0) {
                ++run;
                continue;
            }
            while (run > 15) {
                ++counts[0xF0];
                run -= 16;
            }
            const int symbol = run * 16 + magnitude_category(v);
            check_index(symbol, 256);
            ++counts[static_cast<std::size_t>(symbol)];
            run = 0;
        }
        if (run > 0) ++counts[0];
    }
}

void bmptojpg::OptimizeHuffmanTable(HuffmanTableRecord& table, SymbolCounts& counts) {
    std::array<std::int32_t, 257> code_size{};
    std::array<std::int32_t, 257> others;
    others.fill(-1);

    // The reserved code point keeps any code from being all 1 bits.
    counts[256] = 1;
    int c1 = -1;
    for (;;) {
        c1 = -1;
        int c2 = -1;
        std::int64_t c1_count = 2147483647, c2_count = 2147483647;
        // Among equal counts the higher symbol value is taken.
        for (int v = 0; v <= 256; ++v) {
            const std::int64_t cv = counts[static_cast<std::size_t>(v)];
            if (cv == 0 || cv > c2_count) continue;
            if (cv <= c1_count) {
                c2 = c1;
                c2_count = c1_count;
                c1 = v;
                c1_count = cv;
            } else {
                c2 = v;
                c2_count = cv;
            }
        }
        if (c2 == -1) break;
        counts[static_cast<std::size_t>(c1)] =
            bmptojpg_detail::add_i32(counts[static_cast<std::size_t>(c1)], counts[static_cast<std::size_t>(c2)]);
        counts[static_cast<std::size_t>(c2)] = 0;
        int s = c1;
        ++code_size[static_cast<std::size_t>(s)];
        while (others[static_cast<std::size_t>(s)] != -1) {
            s = others[static_cast<std::size_t>(s)];
            ++code_size[static_cast<std::size_t>(s)];
        }
        others[static_cast<std::size_t>(s)] = c2;
        s = c2;
        ++code_size[static_cast<std::size_t>(s)];
        while (others[static_cast<std::size_t>(s)] != -1) {
            s = others[static_cast<std::size_t>(s)];
            ++code_size[static_cast<std::size_t>(s)];
        }
    }
    if (c1 >= 0) counts[static_cast<std::size_t>(c1)] = 0;

    const int largest = fill_counts(code_size.data(), 257, table);

    std::size_t k = 0;
    for (int size = 1; size <= largest; ++size)
        for (int v = 0; v <= 255; ++v)
            if (code_size[static_cast<std::size_t>(v)] == size) table.Symbols[k++] = static_cast<std::uint8_t>(v);
}

void bmptojpg::OptimizeHuffmanTableFast(HuffmanTableRecord& table, SymbolCounts& counts, int symbol_limit) {
    // Symbols ordered by count, and among equal counts the higher symbol first:
    // the two smallest are the ones the linear search of OptimizeHuffmanTable finds.
    // Everything works on the symbols that occur, in rising order: a small page
    // codes a few dozen of the 257, and its tables are built for every page.
    counts[256] = 1;
    std::array<int, 257> used;
    int n = 0;
    for (int v = 0; v < symbol_limit; ++v) {
        // Without a branch: whether a symbol occurs is close to random.
        used[static_cast<std::size_t>(n)] = v;
        n += counts[static_cast<std::size_t>(v)] != 0;
    }
    used[static_cast<std::size_t>(n++)] = 256;
    const int leaves = n;

    // A binary min-heap of keys: the group's count above its symbol's place
    // counted from the top, so that the smallest key is the smallest count and,
    // among equal counts, the higher symbol. The keys are all different.
    auto key = [](std::int64_t count, int symbol) {
        return static_cast<std::uint64_t>(count) << 9 | static_cast<std::uint64_t>(511 - symbol);
    };
    auto symbol_of = [](std::uint64_t k) { return 511 - static_cast<int>(k & 511); };
    std::array<std::uint64_t, 257> heap;
    for (int k = 0; k < n; ++k) {
        const int v = used[static_cast<std::size_t>(k)];
        heap[static_cast<std::size_t>(k)] = key(counts[static_cast<std::size_t>(v)], v);
    }
    auto sift_down = [&](int i) {
        const std::uint64_t x = heap[static_cast<std::size_t>(i)];
        for (;;) {
            const int l = 2 * i + 1;
            if (l >= n) break;
            const int m = l + 1 < n && heap[static_cast<std::size_t>(l + 1)] < heap[static_cast<std::size_t>(l)] ? l + 1 : l;
            if (heap[static_cast<std::size_t>(m)] > x) break;
            heap[static_cast<std::size_t>(i)] = heap[static_cast<std::size_t>(m)];
            i = m;
        }
        heap[static_cast<std::size_t>(i)] = x;
    };
    for (int i = n / 2 - 1; i >= 0; --i) sift_down(i);

    // Each merge hangs the two groups under a new node: a symbol's code size,
    // the number of merges its group took part in, is its depth in that tree. The
    // leaves are the symbols that occur (node k for used[k]); merges follow them.
    std::array<int, 2 * 257> parent;
    std::array<int, 257> node;  // the tree node of the group a symbol stands for
    for (int k = 0; k < leaves; ++k) {
        node[static_cast<std::size_t>(used[static_cast<std::size_t>(k)])] = k;
        parent[static_cast<std::size_t>(k)] = -1;
    }
    int next_node = leaves;
    while (n >= 2) {
        const std::uint64_t k1 = heap[0];
        heap[0] = heap[static_cast<std::size_t>(--n)];
        sift_down(0);
        const std::uint64_t k2 = heap[0];
        const int c1 = symbol_of(k1), c2 = symbol_of(k2);
        heap[0] = key(bmptojpg_detail::add_i32(static_cast<std::int64_t>(k1 >> 9), static_cast<std::int64_t>(k2 >> 9)), c1);
        sift_down(0);
        parent[static_cast<std::size_t>(node[static_cast<std::size_t>(c1)])] = next_node;
        parent[static_cast<std::size_t>(node[static_cast<std::size_t>(c2)])] = next_node;
        parent[static_cast<std::size_t>(next_node)] = -1;
        node[static_cast<std::size_t>(c1)] = next_node++;
    }
    // The counts are used up, as the plain procedure leaves them.
    for (int k = 0; k < leaves; ++k) counts[static_cast<std::size_t>(used[static_cast<std::size_t>(k)])] = 0;
    std::array<std::int32_t, 2 * 257> depth;
    for (int id = next_node - 1; id >= 0; --id) {
        const int up = parent[static_cast<std::size_t>(id)];
        depth[static_cast<std::size_t>(id)] = up >= 0 ? depth[static_cast<std::size_t>(up)] + 1 : 0;
    }
    fill_counts(depth.data(), leaves, table);

    // Symbols by code size, then by value: a counting sort over the sizes of the
    // symbols that occur, already in order of value (256, the reserved point, last).
    std::array<int, 258> start{};
    const int coded = used[static_cast<std::size_t>(leaves - 1)] == 256 ? leaves - 1 : leaves;
    for (int k = 0; k < coded; ++k)
        ++start[static_cast<std::size_t>(depth[static_cast<std::size_t>(k)])];
    int at = 0;
    for (int& s : start) at += std::exchange(s, at);
    const int skip = start[1];  // symbols without a code
    for (int k = 0; k < coded; ++k) {
        const int size = depth[static_cast<std::size_t>(k)];
        if (size != 0)
            table.Symbols[static_cast<std::size_t>(start[static_cast<std::size_t>(size)]++ - skip)] =
                static_cast<std::uint8_t>(used[static_cast<std::size_t>(k)]);
    }
}

void bmptojpg::ExpandHuffmanTable(HuffmanTableRecord& table, int largest_symbol) {
    table.CodeMask.fill(0);
    table.Code.fill(-1);
    std::int32_t code = 0, mask = 1;
    int k = 0;
    for (int length = 1; length <= 16; ++length) {
        const int count = table.Counts[static_cast<std::size_t>(length - 1)];
        if (k + count > 256) throw bad_huffman_table();
        for (int n = 0; n < count; ++n) {
            const int symbol = table.Symbols[static_cast<std::size_t>(k)];
            if (symbol > largest_symbol || table.Code[static_cast<std::size_t>(symbol)] != -1) throw bad_huffman_table();
            table.CodeMask[static_cast<std::size_t>(symbol)] = mask;
            table.Code[static_cast<std::size_t>(symbol)] = code;
            ++code;
            ++k;
        }
        mask *= 2;
        if (code >= mask) throw bad_huffman_table();
        code *= 2;
    }
    if (k == 0) throw bad_huffman_table();
}

bmptojpg::TableUse bmptojpg::SurveyTables(const ScanPlan& plan, int first, int last) const {
    TableUse use;
    use.interleaved.assign(plan.component.size(), false);
    for (const ScanGroup& g : ScanGroups(plan, first, last))
        for (int i = g.first; i <= g.last; ++i) {
            const std::size_t at = static_cast<std::size_t>(i);
            bmptojpg_detail::check_table_id(plan.dc_table[at]);
            bmptojpg_detail::check_table_id(plan.ac_table[at]);
            use.dc_in_use[plan.dc_table[at]] = true;
            use.ac_in_use[plan.ac_table[at]] = true;
            use.interleaved[at] = g.last > g.first;
        }
    return use;
}

std::int32_t bmptojpg::OptimizeTables(const ScanPlan& plan, int first, int last) {
    const TableUse use = SurveyTables(plan, first, last);
    const std::vector<bool>& interleaved = use.interleaved;
    const bool* dc_in_use = use.dc_in_use;
    const bool* ac_in_use = use.ac_in_use;

    SymbolCounts counts{};
    bmptojpg_detail::ByteTally tally;
    auto add_bits = [&](std::int64_t bits) { tally.add_bits(bits); };
    auto code_length = [](const HuffmanTableRecord& t, int s) {
        int length = 1;
        for (std::int32_t m = t.CodeMask[static_cast<std::size_t>(s)]; m > 1; m /= 2) ++length;
        return length;
    };

    for (int k = 0; k < 4; ++k) {
        if (dc_in_use[k]) {
            for (int i = first; i <= last; ++i) {
                const std::size_t at = static_cast<std::size_t>(i);
                if (plan.dc_table[at] != k) continue;
                check_index(plan.component[at], Components.size());
                const ComponentRecord& comp = Components[static_cast<std::size_t>(plan.component[at])];
                if (interleaved[at])
                    CountDCSymbolsInterleaved(comp.Coefficients, counts, comp.H, comp.V);
                else
                    CountDCSymbols(comp.Coefficients, counts);
            }
            const SymbolCounts kept = counts;
            OptimizeHuffmanTable(DCTables[static_cast<std::size_t>(k)], counts);
            ExpandHuffmanTable(DCTables[static_cast<std::size_t>(k)], Precision == 12 ? 15 : 11);
            for (int s = 0; s <= 15; ++s)
                if (kept[static_cast<std::size_t>(s)] != 0)
                    add_bits(std::int64_t{kept[static_cast<std::size_t>(s)]} * (code_length(DCTables[static_cast<std::size_t>(k)], s) + s));
        }
        if (ac_in_use[k]) {
            for (int i = first; i <= last; ++i) {
                const std::size_t at = static_cast<std::size_t>(i);
                if (plan.ac_table[at] != k) continue;
                check_index(plan.component[at], Components.size());
                const ComponentRecord& comp = Components[static_cast<std::size_t>(plan.component[at])];
                CountACSymbols(comp.Coefficients, counts);
                if (interleaved[at]) CountDummyBlockEOBs(comp.Coefficients, counts, comp.H, comp.V);
            }
            const SymbolCounts kept = counts;
            OptimizeHuffmanTable(ACTables[static_cast<std::size_t>(k)], counts);
            ExpandHuffmanTable(ACTables[static_cast<std::size_t>(k)], 255);
            for (int s = 0; s <= 255; ++s)
                if (kept[static_cast<std::size_t>(s)] != 0)
                    add_bits(std::int64_t{kept[static_cast<std::size_t>(s)]} * (code_length(ACTables[static_cast<std::size_t>(k)], s) + s % 16));
        }
    }
    std::int64_t n = tally.whole_bytes();
    if (n > INT32_MAX) throw VbError::overflow();
    return static_cast<std::int32_t>(n);
}
