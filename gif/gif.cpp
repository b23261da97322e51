#include "gif/gif.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <system_error>

#include "platform/numbers.h"
#include "platform/pump.h"
#include "platform/vb_error.h"

namespace {

constexpr std::int16_t kClearCode = 256;
constexpr std::int16_t kEndCode = 257;
constexpr int kFirstCode = 258;
constexpr int kMaxEntries = 254;  // codes 258 .. 511; 511 is given but never written
constexpr std::int16_t kCodeBits = 9;
constexpr std::int32_t kMaxSide = 32767;
constexpr std::uint8_t kLevels[5] = {0, 64, 128, 192, 255};

VbError file_error(int err) {
    switch (err) {
        case ENOENT:
        case ENOTDIR: return VbError(76, "Path not found");
        case ENOSPC: return VbError(61, "Disk full");
        default: return VbError(75, "Path/File access error");
    }
}

// Nearest level number 0 .. 4 for each channel value. The squared distance over
// red, green and blue is a sum of per-channel terms, so the nearest palette entry
// is the nearest level in each channel; the lower level on a tie keeps the lower index.
std::array<std::uint8_t, 256> make_level_table() {
    std::array<std::uint8_t, 256> t{};
    for (int v = 0; v < 256; ++v) {
        int best = 0;
        for (int l = 1; l < 5; ++l) {
            const int d = v - kLevels[l], bd = v - kLevels[best];
            if (d * d < bd * bd) best = l;
        }
        t[v] = static_cast<std::uint8_t>(best);
    }
    return t;
}

}  // namespace

GIF::~GIF() { CloseFile(false); }

bool GIF::SaveGIF(const pagiro::Picture& pic, const std::filesystem::path& sFileName,
                  const pagiro::Picture* hDc, bool UseTrans, std::int32_t TransColor) {
    if (Busy) return false;
    Busy = true;
    // Whatever way the save ends, the object is usable again and no half-written
    // file stays behind.
    struct Release {
        GIF& gif;
        bool completed = false;
        ~Release() {
            gif.CloseFile(completed);
            gif.Busy = false;
        }
    } release{*this};

    if (pic.width > kMaxSide || pic.height > kMaxSide) throw VbError::overflow();
    if (pic.width < 0 || pic.height < 0) throw VbError(5, "Invalid procedure call or argument");
    PicWidth = pic.width;
    PicHeight = pic.height;

    // Palette indices, row 1 (the top row) first, each row padded to 4 bytes.
    const std::size_t rowBytes = (static_cast<std::size_t>(PicWidth) + 3) / 4 * 4;
    std::vector<std::uint8_t> pixels(rowBytes * static_cast<std::size_t>(PicHeight), 0);
    BitmapColors bitmapInfo{};

    if (pic.format == pagiro::PictureFormat::Indexed8) {
        bitmapInfo = pic.palette;
        for (int y = 0; y < PicHeight; ++y)
            if (const std::uint8_t* src = pic.row(y))
                std::copy(src, src + PicWidth, pixels.begin() + rowBytes * y);
    } else {
        MakePaletteDIB(bitmapInfo);
        static const std::array<std::uint8_t, 256> level = make_level_table();
        const pagiro::Picture& source = hDc ? *hDc : pic;
        const int w = std::min(PicWidth, source.width), h = std::min(PicHeight, source.height);
        for (int y = 0; y < h; ++y) {
            if (!source.row(y)) continue;
            std::uint8_t* dst = pixels.data() + rowBytes * y;
            for (int x = 0; x < w; ++x) {
                const pagiro::PictureColor c = source.color_at(x, y);
                dst[x] = static_cast<std::uint8_t>(25 * level[c.blue] + 5 * level[c.green] + level[c.red]);
            }
        }
    }

    int transIndex = 0;
    bool transFound = false;
    for (int c = 0; c < 256; ++c) {
        const pagiro::PictureColor& col = bitmapInfo[c];
        ColorTable[3 * c] = col.red;
        ColorTable[3 * c + 1] = col.green;
        ColorTable[3 * c + 2] = col.blue;
        if (!transFound && col.red + 256 * col.green + 65536 * col.blue == TransColor) {
            transIndex = c;
            transFound = true;
        }
    }

    if (PathExists(sFileName)) {
        std::error_code ec;
        const auto st = std::filesystem::symlink_status(sFileName, ec);
        // Only a file (or a link to one) is ours to replace; a folder or a device is not.
        if (st.type() != std::filesystem::file_type::regular && st.type() != std::filesystem::file_type::symlink)
            throw VbError(75, "Path/File access error");
        if (!std::filesystem::remove(sFileName, ec) && ec) throw file_error(ec.value());
    }
    errno = 0;
    FileNumber = std::fopen(sFileName.string().c_str(), "w+b");
    if (!FileNumber) throw file_error(errno);
    OpenPath = sFileName;

    auto put16 = [](std::vector<std::uint8_t>& out, std::int32_t v) {
        out.push_back(static_cast<std::uint8_t>(v & 0xFF));
        out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
    };
    std::vector<std::uint8_t> head;
    for (char ch : std::string(UseTrans ? "GIF89a" : "GIF87a")) head.push_back(static_cast<std::uint8_t>(ch));
    put16(head, PicWidth);
    put16(head, PicHeight);
    head.insert(head.end(), {0xF7, 0x00, 0x00});
    head.insert(head.end(), ColorTable.begin(), ColorTable.end());
    if (UseTrans)
        head.insert(head.end(), {0x21, 0xF9, 0x04, 0x09, 0x00, 0x00, static_cast<std::uint8_t>(transIndex), 0x00});
    head.push_back(0x2C);
    put16(head, 0);
    put16(head, 0);
    put16(head, PicWidth);
    put16(head, PicHeight);
    head.push_back(0x07);
    head.push_back(0x08);
    WriteBytes(head.data(), head.size());

    SubBlock[0] = 0;
    BitPos = 8;
    for (std::int32_t y = 1; y <= PicHeight; ++y) {
        CodeRow(pixels.data() + rowBytes * (y - 1));
        if (y % 10 == 0) {
            if (Progress) Progress(pagiro::to_i16(static_cast<double>(y) * 100.0 / PicHeight));
            pagiro::pump();
        }
    }
    PutBits(kEndCode, kCodeBits);
    WriteBytes(SubBlock.data(), std::size_t(SubBlock[0]) + 1);
    const std::uint8_t tail[2] = {0x00, 0x3B};
    WriteBytes(tail, 2);

    const int closed = std::fclose(FileNumber);
    const int err = errno;
    FileNumber = nullptr;
    if (closed != 0) throw file_error(err);
    release.completed = true;
    return true;
}

void GIF::CodeRow(const std::uint8_t* pixels) {
    ClearDictionary();
    if (PicWidth <= 0) return;
    // The row opens with an empty key but pixel 0 as the current code, so the first
    // entry of a row is pixel 1 alone; no later key is that short, so it never matches.
    int prefix = LzwDictionary::kEmptyPrefix;
    int current = pixels[0];
    for (std::int32_t x = 1; x < PicWidth; ++x) {
        const std::uint8_t k = pixels[x];
        const std::uint32_t slot = static_cast<std::uint32_t>(prefix) * 256 + k;
        if (const std::uint16_t found = Dictionary.codes[slot]) {
            current = prefix = found;
            continue;
        }
        const int n = Dictionary.count;
        Dictionary.codes[slot] = static_cast<std::uint16_t>(n + kFirstCode);
        Dictionary.used.push_back(slot);
        ++Dictionary.count;
        PutBits(static_cast<std::int16_t>(current), kCodeBits);
        if (n == kMaxEntries - 1) ClearDictionary();
        prefix = current = k;
    }
    PutBits(static_cast<std::int16_t>(current), kCodeBits);
}

void GIF::PutBits(std::int16_t code, std::int16_t count) {
    for (int i = 0; i < count; ++i) {
        if (BitPos == 8) {
            if (SubBlock[0] == 255) {
                WriteBytes(SubBlock.data(), SubBlock.size());
                SubBlock[0] = 1;
            } else {
                ++SubBlock[0];
            }
            SubBlock[SubBlock[0]] = 0;
            BitPos = 0;
        }
        if ((code >> i) & 1) SubBlock[SubBlock[0]] |= static_cast<std::uint8_t>(1u << BitPos);
        ++BitPos;
    }
}

void GIF::NewDictionary() {
    for (std::uint32_t slot : Dictionary.used) Dictionary.codes[slot] = 0;
    Dictionary.used.clear();
    Dictionary.count = 0;
}

void GIF::ClearDictionary() {
    NewDictionary();
    PutBits(kClearCode, kCodeBits);
}

bool GIF::PathExists(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

// The fixed palette for pictures that are not 8-bit: five levels of each primary,
// blue slowest and red fastest; entries 125 .. 255 stay black.
void GIF::MakePaletteDIB(BitmapColors& bitmapInfo) {
    bitmapInfo.fill({});
    int entry = 0;
    for (int b = 0; b < 5; ++b)
        for (int g = 0; g < 5; ++g)
            for (int r = 0; r < 5; ++r) bitmapInfo[entry++] = {kLevels[r], kLevels[g], kLevels[b]};
}

void GIF::WriteBytes(const std::uint8_t* data, std::size_t count) {
    if (!FileNumber) throw VbError(52, "Bad file name or number");
    errno = 0;
    if (std::fwrite(data, 1, count, FileNumber) != count) throw file_error(errno);
}

void GIF::CloseFile(bool keep) {
    if (FileNumber) {
        std::fclose(FileNumber);
        FileNumber = nullptr;
    }
    if (!keep && !OpenPath.empty()) {
        std::error_code ec;
        std::filesystem::remove(OpenPath, ec);
    }
    OpenPath.clear();
}
