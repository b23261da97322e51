// The encoder object: its fixed tables, its defaults and its settings.
#include "bmptojpg.h"

#include "platform/vb_error.h"

namespace {

const std::int16_t kLuminanceNatural[8][8] = {
    {16, 11, 10, 16, 24, 40, 51, 61},       {12, 12, 14, 19, 26, 58, 60, 55},
    {14, 13, 16, 24, 40, 57, 69, 56},       {14, 17, 22, 29, 51, 87, 80, 62},
    {18, 22, 37, 56, 68, 109, 103, 77},     {24, 35, 55, 64, 81, 104, 113, 92},
    {49, 64, 78, 87, 103, 121, 120, 101},   {72, 92, 95, 98, 112, 100, 103, 99},
};

const std::int16_t kChrominanceNatural[8][8] = {
    {17, 18, 24, 47, 99, 99, 99, 99}, {18, 21, 26, 66, 99, 99, 99, 99},
    {24, 26, 56, 99, 99, 99, 99, 99}, {47, 66, 99, 99, 99, 99, 99, 99},
    {99, 99, 99, 99, 99, 99, 99, 99}, {99, 99, 99, 99, 99, 99, 99, 99},
    {99, 99, 99, 99, 99, 99, 99, 99}, {99, 99, 99, 99, 99, 99, 99, 99},
};

// 1 / (sqrt(8) * a(k)), a(0) = 1, a(k) = sqrt(2) * cos(k * pi / 16).
const double kScaleFactors[8] = {0.353553390593273, 0.25489778955208,  0.270598050073098,
                                 0.300672443467523, 0.353553390593273, 0.449988111568207,
                                 0.653281482438186, 1.28145772387074};

bool valid_factor(int f) { return f >= 1 && f <= 4; }

VbError invalid_sampling() { return VbError(1, "Invalid Sampling Value"); }

}  // namespace

bmptojpg::bmptojpg() {
    // Walk the block diagonally from the top-left corner, turning at the edges.
    int x = 0, y = 0, dx = 1, dy = -1;
    for (int pos = 0; pos < 64; ++pos) {
        ZigZag[x][y] = pos;
        const int nx = x + dx, ny = y + dy;
        if (nx > 7) {
            ++y;
        } else if (ny > 7) {
            ++x;
        } else if (nx < 0) {
            x = 0;
            y = ny;
        } else if (ny < 0) {
            y = 0;
            x = nx;
        } else {
            x = nx;
            y = ny;
            continue;
        }
        dx = -dx;
        dy = -dy;
    }
    for (int row = 0; row < 8; ++row)
        for (int col = 0; col < 8; ++col) {
            LuminanceBase[ZigZag[col][row]] = kLuminanceNatural[row][col];
            ChrominanceBase[ZigZag[col][row]] = kChrominanceNatural[row][col];
        }
    for (int k = 0; k < 8; ++k) ScaleFactors[k] = kScaleFactors[k];

    SetSamplingFrequencies(2, 2, 1, 1, 1, 1);
    Quality(75);
}

void bmptojpg::Quality(int vData) {
    if (vData < 1 || vData > 100) return;
    Quality_ = vData;
    FillQuantTables(vData);
}

int bmptojpg::Quality() const { return Quality_; }

void bmptojpg::SetSamplingFrequencies(int H1, int V1, int H2, int V2, int H3, int V3) {
    if (!valid_factor(H1)) throw invalid_sampling();
    if (!valid_factor(V1)) throw invalid_sampling();
    const bool colour = H2 != 0 || V2 != 0 || H3 != 0 || V3 != 0;
    if (colour) {
        for (int f : {H2, H3, V2, V3})
            if (!valid_factor(f)) throw invalid_sampling();
    }

    std::vector<ComponentRecord> records;
    if (colour) {
        records.resize(3);
        records[0].H = H1;
        records[0].V = V1;
        records[0].QuantTable = 0;
        records[1].H = H2;
        records[1].V = V2;
        records[1].QuantTable = 1;
        records[2].H = H3;
        records[2].V = V3;
        records[2].QuantTable = 1;
    } else {
        records.resize(1);
        records[0].H = 1;
        records[0].V = 1;
        records[0].QuantTable = 0;
    }
    int hmax = -1, vmax = -1;
    for (const ComponentRecord& r : records) {
        if (r.H > hmax) hmax = r.H;
        if (r.V > vmax) vmax = r.V;
    }
    ComponentCount = static_cast<int>(records.size());
    Components = std::move(records);
    Fast.clear();
    HMax = hmax;
    VMax = vmax;
}

void bmptojpg::Comment(const std::string& Value) {
    if (Value.size() > 65533) throw VbError(1, "Illegal Comment Length");
    Comment_ = Value;
}

std::string bmptojpg::Comment() const { return Comment_; }

