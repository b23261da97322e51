// Entropy coding of the scans: grouping the components into scans, the block
// order of each scan, the Huffman coding of one block and the bit writer.
#include "bmptojpg.h"
#include "detail.h"

using bmptojpg_detail::check_index;
using bmptojpg_detail::check_table_id;
using bmptojpg_detail::magnitude_category;

void bmptojpg::ResetBitBuffer() {
    CurrentByte = 0;
    BitMask = 128;
}

void bmptojpg::FlushBitBuffer() {
    if (BitMask != 128) WriteBits(BitMask, -1);
}

void bmptojpg::WriteBits(std::int32_t mask, std::int32_t value) {
    while (mask > 0) {
        if ((value & mask) != 0) CurrentByte |= BitMask;
        if (BitMask == 1) {
            PutByte(FilePos, CurrentByte);
            if (CurrentByte == 255) {
                PutByte(std::int64_t{FilePos} + 1, 0);
                FilePos = bmptojpg_detail::add_i32(FilePos, 2);
            } else {
                FilePos = bmptojpg_detail::add_i32(FilePos, 1);
            }
            CurrentByte = 0;
            BitMask = 128;
        } else {
            BitMask /= 2;
        }
        mask /= 2;
    }
}

void bmptojpg::EncodeBlock(const CoefficientArray& coefficients, std::int32_t& p, std::int32_t& predictor,
                           int dc_table, int ac_table) {
    check_table_id(dc_table);
    check_table_id(ac_table);
    const HuffmanTableRecord& dc = DCTables[static_cast<std::size_t>(dc_table)];
    const HuffmanTableRecord& ac = ACTables[static_cast<std::size_t>(ac_table)];
    check_index(std::int64_t{p} + 63, coefficients.size());

    std::int32_t diff = coefficients[static_cast<std::size_t>(p)] - predictor;
    predictor = coefficients[static_cast<std::size_t>(p)];
    ++p;
    const int n = magnitude_category(diff);
    const std::int32_t d = std::int32_t{1} << n;
    if (diff < 0) diff -= 1;
    check_index(n, 256);
    WriteBits(dc.CodeMask[static_cast<std::size_t>(n)], dc.Code[static_cast<std::size_t>(n)]);
    WriteBits(d / 2, diff);

    int run = 0;
    for (int i = 0; i < 63; ++i, ++p) {
        std::int32_t v = coefficients[static_cast<std::size_t>(p)];
        if (v == 0) {
            ++run;
            continue;
        }
        while (run > 15) {
            WriteBits(ac.CodeMask[0xF0], ac.Code[0xF0]);
            run -= 16;
        }
        const int m = magnitude_category(v);
        const std::int32_t dv = std::int32_t{1} << m;
        const int symbol = run * 16 + m;
        check_index(symbol, 256);
        WriteBits(ac.CodeMask[static_cast<std::size_t>(symbol)], ac.Code[static_cast<std::size_t>(symbol)]);
        if (v < 0) v -= 1;
        WriteBits(dv / 2, v);
        run = 0;
    }
    if (run > 0) WriteBits(ac.CodeMask[0], ac.Code[0]);
}

std::vector<bmptojpg::ScanGroup> bmptojpg::ScanGroups(const ScanPlan& plan, int first, int last) const {
    // At most three components and at most 10 blocks of an MCU share a scan.
    std::vector<ScanGroup> groups;
    int start = first, sum = 0;
    int i = first;
    while (i <= last) {
        const std::size_t at = static_cast<std::size_t>(i);
        check_index(i, plan.component.size());
        check_index(plan.component[at], Components.size());
        const ComponentRecord& comp = Components[static_cast<std::size_t>(plan.component[at])];
        sum += comp.H * comp.V;
        if (sum >= 11) {
            if (i != start) {
                groups.push_back({start, i - 1});
                start = i;
                sum = 0;
                continue;  // the position opens the next group
            }
            groups.push_back({start, i});
        } else if (i - start + 1 == 3 || i == last) {
            groups.push_back({start, i});
        } else {
            ++i;
            continue;
        }
        start = i + 1;
        sum = 0;
        ++i;
    }
    return groups;
}

void bmptojpg::EncodeScans(const ScanPlan& plan, int first, int last) {
    for (const ScanGroup& g : ScanGroups(plan, first, last)) {
        if (g.first == g.last) {
            const std::size_t at = static_cast<std::size_t>(g.first);
            EncodeSingleScan(plan.component[at], plan.dc_table[at], plan.ac_table[at]);
        } else {
            EncodeInterleavedScan(plan, g.first, g.last);
        }
    }
}

void bmptojpg::EncodeSingleScan(int component, int dc_table, int ac_table) {
    ScanPlan one{{component}, {dc_table}, {ac_table}};
    WriteScanHeader(one, 0, 0);
    ResetBitBuffer();
    const CoefficientArray& coefficients = Components[static_cast<std::size_t>(component)].Coefficients;
    if (coefficients.empty()) throw VbError::subscript_out_of_range();
    std::int32_t p = 0, predictor = 0;
    while (static_cast<std::size_t>(p) != coefficients.size()) EncodeBlock(coefficients, p, predictor, dc_table, ac_table);
    FlushBitBuffer();
}

void bmptojpg::EncodeInterleavedScan(const ScanPlan& plan, int first, int last) {
    WriteScanHeader(plan, first, last);
    const std::int64_t mcus_across = (std::int64_t{Width} + 8 * HMax - 1) / (8 * HMax);
    const std::int64_t mcu_rows = (std::int64_t{Height} + 8 * VMax - 1) / (8 * VMax);

    struct Member {
        const ComponentRecord* comp;
        int dc_table, ac_table;
        std::vector<std::int32_t> row_start;
        std::int32_t row_skip;
        int last_column_blocks;
        std::int32_t predictor;
    };
    std::vector<Member> members;
    for (int j = first; j <= last; ++j) {
        const std::size_t at = static_cast<std::size_t>(j);
        const ComponentRecord& comp = Components[static_cast<std::size_t>(plan.component[at])];
        if (comp.Coefficients.empty()) throw VbError::subscript_out_of_range();
        const std::int64_t w = static_cast<std::int64_t>(-std::floor(-(static_cast<double>(Width) * comp.H) / HMax));
        const std::int64_t b = (7 + w) / 8;
        Member m{&comp, plan.dc_table[at], plan.ac_table[at], {}, 0, 0, 0};
        for (int k = 0; k < comp.V; ++k) m.row_start.push_back(bmptojpg_detail::add_i32(0, k * b * 64));
        m.row_skip = bmptojpg_detail::add_i32(0, (comp.V - 1) * b * 64);
        m.last_column_blocks = b % comp.H == 0 ? comp.H : static_cast<int>(b % comp.H);
        members.push_back(std::move(m));
    }

    ResetBitBuffer();
    CoefficientArray dummy(64, 0);
    for (std::int64_t my = 0; my < mcu_rows; ++my) {
        for (std::int64_t mx = 0; mx < mcus_across; ++mx)
            for (Member& m : members)
                for (int k = 1; k <= m.comp->V; ++k)
                    for (int l = 1; l <= m.comp->H; ++l) {
                        std::int32_t& start = m.row_start[static_cast<std::size_t>(k - 1)];
                        const std::int64_t last_index = static_cast<std::int64_t>(m.comp->Coefficients.size()) - 1;
                        const bool is_dummy = (mx == mcus_across - 1 && l > m.last_column_blocks) ||
                                              (my == mcu_rows - 1 && start > last_index);
                        if (is_dummy) {
                            // Codes a DC difference of 0 and an end-of-block.
                            dummy[0] = static_cast<std::int16_t>(m.predictor);
                            std::int32_t p = 0, predictor = m.predictor;
                            EncodeBlock(dummy, p, predictor, m.dc_table, m.ac_table);
                        } else {
                            EncodeBlock(m.comp->Coefficients, start, m.predictor, m.dc_table, m.ac_table);
                        }
                    }
        if (my != mcu_rows - 1)
            for (Member& m : members)
                for (std::int32_t& start : m.row_start) start = bmptojpg_detail::add_i32(start, m.row_skip);
    }
    FlushBitBuffer();
}
