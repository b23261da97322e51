#pragma once
// A self-contained writer of one picture as a GIF file: 8-bit indices with a
// 256-entry colour table, optionally one transparent colour, LZW with a fixed
// 9-bit code that starts afresh on every row. Standard library only.
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <vector>

#include "platform/picture.h"

class GIF {
public:
    GIF() = default;
    ~GIF();
    GIF(const GIF&) = delete;
    GIF& operator=(const GIF&) = delete;

    // Writes `pic` to `sFileName`, replacing any file of that name. An 8-bit picture
    // keeps its own indices and colour table; any other is mapped to the fixed palette.
    // `hDc` stands for a device context the caller already drew into: nullptr means the
    // writer takes the colours from `pic` itself; otherwise the colours of a true-colour
    // `pic` are copied from `*hDc` (clipped to `pic`'s size, uncovered pixels index 0),
    // while the size always comes from `pic`.
    // `TransColor` is red + 256 * green + 65536 * blue; with `UseTrans` the first table
    // entry of that colour (index 0 when there is none) becomes transparent.
    // Returns false, doing nothing, while a save on this object is under way.
    // Raises VbError: 6 for a side above 32767 pixels, 5 for a negative side, and the
    // file errors 61/75/76; a file that fails mid-way is removed before the error.
    bool SaveGIF(const pagiro::Picture& pic, const std::filesystem::path& sFileName,
                 const pagiro::Picture* hDc = nullptr, bool UseTrans = false,
                 std::int32_t TransColor = 0);

    bool IsBusy() const { return Busy; }

    // Raised after every tenth row with the share of rows done, 0 .. 100; the
    // message pump runs right after it.
    std::function<void(std::int16_t Percents)> Progress;

private:
    using BitmapColors = std::array<pagiro::PictureColor, 256>;

    // LZW strings keyed by (code of the string without its last pixel, last pixel).
    // A key of one pixel has the prefix `kEmptyPrefix`.
    struct LzwDictionary {
        static constexpr int kEmptyPrefix = 512;
        std::vector<std::uint16_t> codes = std::vector<std::uint16_t>((kEmptyPrefix + 1) * 256, 0);
        std::vector<std::uint32_t> used;
        int count = 0;
    };

    void PutBits(std::int16_t code, std::int16_t count);
    void NewDictionary();
    void ClearDictionary();
    void CodeRow(const std::uint8_t* pixels);
    static bool PathExists(const std::filesystem::path& path);
    static void MakePaletteDIB(BitmapColors& bitmapInfo);
    void WriteBytes(const std::uint8_t* data, std::size_t count);
    void CloseFile(bool keep);

    LzwDictionary Dictionary;
    std::FILE* FileNumber = nullptr;
    std::filesystem::path OpenPath;
    std::array<std::uint8_t, 768> ColorTable{};
    std::int16_t BitPos = 0;
    std::array<std::uint8_t, 256> SubBlock{};
    std::int32_t PicWidth = 0;
    std::int32_t PicHeight = 0;
    bool Busy = false;
};
