#include "page_limits.h"

#include <algorithm>
#include <cmath>

namespace pagiro {
namespace {

// Every worker's stack and the allocator's arena for it count against an
// address-space limit, and the program itself needs some room to go on.
constexpr std::uint64_t kPerWorker = std::uint64_t(72) << 20;
constexpr std::uint64_t kHeadroom = std::uint64_t(64) << 20;

QString size_text(double width, double height) {
    return QStringLiteral("%1 x %2").arg(width, 0, 'f', 0).arg(height, 0, 'f', 0);
}

// "1.5 GB", "300 MB": figures a person compares at a glance.
QString amount(std::uint64_t bytes) {
    const double mb = double(bytes) / double(1 << 20);
    if (mb >= 1024) return QStringLiteral("%1 GB").arg(mb / 1024, 0, 'f', 1);
    return QStringLiteral("%1 MB").arg(std::ceil(mb), 0, 'f', 0);
}

QString format_name(const PageFormat& f) { return QString::fromLatin1(f.name).toUpper(); }

RunFailure too_large_for_format(const PageFormat& f, double width, double height) {
    const QString size = size_text(width, height);
    if (f.max_side != 0)
        return RunFailure(QStringLiteral("页面太大：%1 图片的宽和高最多为%2像素，现在是%3像素。")
                              .arg(format_name(f))
                              .arg(f.max_side)
                              .arg(size),
                          QStringLiteral("a %1 page is too large: %2 pages are at most %3 pixels each way")
                              .arg(size, format_name(f))
                              .arg(f.max_side));
    return RunFailure(QStringLiteral("页面太大：%1像素的 %2 图片文件会超过 %2 文件最大的%3。")
                          .arg(size, format_name(f), amount(f.max_file_bytes)),
                      QStringLiteral("a %1 page is too large: its %2 file would pass the %3 a %2 file can hold")
                          .arg(size, format_name(f), amount(f.max_file_bytes)));
}

RunFailure too_large_for_memory(double width, double height, std::uint64_t needed, const MemoryRoom& room) {
    QString zh_limit, en_limit;
    switch (room.limit) {
    case MemoryRoom::Limit::physical:
        zh_limit = QStringLiteral("本机的物理内存");
        en_limit = QStringLiteral("the machine's physical memory");
        break;
    case MemoryRoom::Limit::address_space:
        zh_limit = QStringLiteral("地址空间限制（ulimit -v）下剩余的内存");
        en_limit = QStringLiteral("the room left under the address-space limit (ulimit -v)");
        break;
    case MemoryRoom::Limit::cgroup:
        zh_limit = QStringLiteral("所在控制组（容器）的内存限制下剩余的内存");
        en_limit = QStringLiteral("the room left under the memory limit of this control group (container)");
        break;
    }
    const QString size = size_text(width, height);
    return RunFailure(QStringLiteral("页面太大：生成%1像素的页面约需%2内存，而%3只有%4。请把页面改小。")
                          .arg(size, amount(needed), zh_limit, amount(room.bytes)),
                      QStringLiteral("a %1 page is too large for the memory here: making such pages needs about %2, "
                                     "and %3 is %4")
                          .arg(size, amount(needed), en_limit, amount(room.bytes)));
}

}  // namespace

PageMemory page_memory(const PageFormat& format, std::uint64_t width, std::uint64_t height, unsigned workers) {
    const std::uint64_t pixels = width * height * 4;
    PageMemory m;
    m.per_run = 2 * pixels + std::uint64_t(std::max(1u, workers)) * kPerWorker + kHeadroom;
    m.per_page = pixels + format.encoding_bytes(width, height);
    m.pages_in_flight = std::size_t(std::clamp<std::uint64_t>(kMaxBytesInFlight / std::max<std::uint64_t>(m.per_page, 1),
                                                              1, kMaxPagesInFlight));
    return m;
}

std::optional<RunFailure> page_size_refusal(const PageFormat& format, double width, double height, unsigned workers,
                                            const std::optional<MemoryRoom>& room) {
    const double w = std::round(width), h = std::round(height);
    // Past any format's bound, and past what the sums below can hold.
    constexpr double kHuge = double(1u << 31);
    const bool huge = w >= kHuge || h >= kHuge;
    const bool past_side = format.max_side != 0 && (w > format.max_side || h > format.max_side);
    const bool past_file = format.max_file_bytes != 0 && !huge &&
                           format.file_bytes(std::uint64_t(w), std::uint64_t(h)) > format.max_file_bytes;
    if (huge || past_side || past_file) return too_large_for_format(format, w, h);
    if (!room || w < 1 || h < 1) return std::nullopt;
    const std::uint64_t needed = page_memory(format, std::uint64_t(w), std::uint64_t(h), workers).total();
    if (needed > room->bytes) return too_large_for_memory(w, h, needed, *room);
    return std::nullopt;
}

}  // namespace pagiro
