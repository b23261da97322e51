#include "background_picture.h"

#include <QFile>
#include <QImageReader>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bmp_picture.h"
#include "file_names.h"
#include "jpeg_picture.h"
#include "memory.h"

namespace pagiro {
namespace {

// What kind of file is at the path, as the reason a background picture is refused.
QString not_a_picture_file(mode_t mode) {
    if (S_ISDIR(mode)) return QStringLiteral("it is a folder, not a file");
    if (S_ISFIFO(mode)) return QStringLiteral("it is a named pipe, not a file");
    if (S_ISCHR(mode) || S_ISBLK(mode)) return QStringLiteral("it is a device, not a file");
    if (S_ISSOCK(mode)) return QStringLiteral("it is a socket, not a file");
    return QStringLiteral("not a regular file");
}

// Which file was read: a file replaced or written to since is read again.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    bool operator==(const FileIdentity& o) const {
        return device == o.device && inode == o.inode && size == o.size && modified.tv_sec == o.modified.tv_sec &&
               modified.tv_nsec == o.modified.tv_nsec;
    }
};

FileIdentity identity_of(const struct stat& st) { return {st.st_dev, st.st_ino, st.st_size, st.st_mtim}; }

// An open file descriptor, closed when it goes.
class OpenFile {
public:
    OpenFile() = default;
    explicit OpenFile(int fd) : fd_(fd) {}
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    ~OpenFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    void reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

// Opens the picture for reading only when it is a regular file, and asks before
// opening: a named pipe nobody writes to would hold the run (and its stop button)
// for ever, and a device has no picture in it. The open itself does not block
// either, should a pipe take the file's place in between.
bool open_picture_file(const QString& name, OpenFile& file, FileIdentity& identity, QString* error) {
    const std::string path = bytes_of_name(name);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (error)
            *error = errno == ENOENT || errno == ENOTDIR ? QStringLiteral("no such file")
                                                         : QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        if (error) *error = not_a_picture_file(st.st_mode);
        return false;
    }
    file.reset(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.get() < 0) {
        if (error) *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        if (error) *error = not_a_picture_file(st.st_mode);
        file.reset(-1);
        return false;
    }
    identity = identity_of(st);
    return true;
}

// The reason a picture that needs `needed` bytes to load is refused, or nothing
// when this process may still take them.
std::optional<QString> too_big(QSize whole, std::uint64_t needed) {
    const std::optional<MemoryRoom> room = memory_room();
    if (!room || needed <= room->bytes) return std::nullopt;
    return QStringLiteral("the picture is %1 x %2 pixels; reading it needs about %3 MB of memory and only %4 MB is "
                          "available")
        .arg(whole.width())
        .arg(whole.height())
        .arg((needed >> 20) + 1)
        .arg(room->bytes >> 20);
}

std::uint64_t load_bytes(QSize whole, QSize kept, bool reads_part) {
    return picture_load_bytes(std::uint64_t(whole.width()), std::uint64_t(whole.height()),
                              std::uint64_t(kept.width()), std::uint64_t(kept.height()), reads_part);
}

enum class DirectRead { done, not_taken, refused };

// The whole file, when it is a JPEG of a size worth holding in memory.
std::vector<std::uint8_t> jpeg_file_bytes(int fd) {
    constexpr off_t kLargestRead = off_t(256) << 20;
    struct stat st {};
    std::uint8_t start[3] = {};
    if (::fstat(fd, &st) != 0 || st.st_size > kLargestRead || ::pread(fd, start, 3, 0) != 3 ||
        !looks_like_jpeg(start, 3))
        return {};
    std::vector<std::uint8_t> bytes;
    try {
        bytes.resize(std::size_t(st.st_size));
    } catch (const std::bad_alloc&) {
        return {};
    }
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::pread(fd, bytes.data() + got, bytes.size() - got, off_t(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += std::size_t(n);
    }
    bytes.resize(got);  // a file cut short meanwhile decodes as far as it goes, as with Qt
    return bytes;
}

// The picture through libjpeg-turbo, when it is a JPEG that reader takes.
DirectRead read_jpeg(int fd, QSize page, BackgroundPicture& out, QString* error) {
    const std::vector<std::uint8_t> bytes = jpeg_file_bytes(fd);
    if (bytes.empty()) return DirectRead::not_taken;
    JpegPictureReader reader(bytes.data(), bytes.size());
    if (!reader.readable()) return DirectRead::not_taken;
    const QSize whole = reader.size();
    const QSize kept = whole.boundedTo(page);
    if (std::optional<QString> refusal = too_big(whole, load_bytes(whole, kept, true))) {
        if (error) *error = *refusal;
        return DirectRead::refused;
    }
    QImage shown = reader.read(kept);
    if (shown.isNull()) return DirectRead::not_taken;
    out = {std::move(shown), whole};
    return DirectRead::done;
}

// The picture read directly, when it is a plain 24-bit BMP.
DirectRead read_bmp(int fd, QSize page, BackgroundPicture& out, QString* error) {
    std::uint8_t header[kBmpHeaderBytes];
    const ssize_t got = ::pread(fd, header, sizeof header, 0);
    struct stat st {};
    if (got <= 0 || ::fstat(fd, &st) != 0) return DirectRead::not_taken;
    const std::optional<BmpLayout> layout = plain_bmp_layout(header, std::size_t(got), std::uint64_t(st.st_size));
    if (!layout) return DirectRead::not_taken;
    const QSize kept = layout->size.boundedTo(page);
    if (std::optional<QString> refusal = too_big(layout->size, load_bytes(layout->size, kept, true))) {
        if (error) *error = *refusal;
        return DirectRead::refused;
    }
    QImage shown = read_plain_bmp(fd, *layout, kept);
    if (shown.isNull()) return DirectRead::not_taken;
    out = {std::move(shown), layout->size};
    return DirectRead::done;
}

// The pictures read without Qt: JPEG and plain BMP.
DirectRead read_directly(int fd, QSize page, BackgroundPicture& out, QString* error) {
    const DirectRead jpeg = read_jpeg(fd, page, out, error);
    return jpeg == DirectRead::not_taken ? read_bmp(fd, page, out, error) : jpeg;
}

// The picture through Qt's readers: any format they know.
std::optional<BackgroundPicture> read_with_qt(int fd, QSize page, QString* error) {
    QFile file;
    if (!file.open(::dup(fd), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (error) *error = file.errorString();
        return std::nullopt;
    }
    QImageReader reader(&file);
    // The picture is drawn at its own size from the top-left corner, so only the
    // part the page shows is kept (a JPEG is decoded no further down than that).
    const QSize whole = reader.size();
    QSize kept = whole;
    if (whole.isValid()) {
        kept = whole.boundedTo(page);
        if (kept != whole) reader.setClipRect(QRect(QPoint(0, 0), kept));
        // Qt's reader refuses pictures past a fixed size (256 MB); what bounds them
        // here is the memory this process may still take.
        if (std::optional<QString> refusal =
                too_big(whole, load_bytes(whole, kept, reader.supportsOption(QImageIOHandler::ClipRect)))) {
            if (error) *error = *refusal;
            return std::nullopt;
        }
        reader.setAllocationLimit(0);
    }
    QImage picture;
    if (!reader.read(&picture)) picture = QImage();
    if (picture.isNull()) {
        if (error) *error = QStringLiteral("not a picture that can be read (%1)").arg(reader.errorString());
        return std::nullopt;
    }
    if (picture.width() > page.width() || picture.height() > page.height())
        picture = picture.copy(QRect(QPoint(0, 0), picture.size().boundedTo(page)));
    QImage shown = picture.convertToFormat(picture.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                                     : QImage::Format_RGB32);
    if (shown.isNull()) {
        if (error) *error = QStringLiteral("not enough memory for the picture");
        return std::nullopt;
    }
    return BackgroundPicture{std::move(shown), whole.isValid() ? whole : picture.size()};
}

// The one picture being read ahead, if any.
class ReadAhead {
public:
    ~ReadAhead() { wait(); }

    void start(const QString& path, QSize page) {
        wait();
        path_ = path;
        page_ = page;
        picture_.reset();
        try {
            worker_ = std::thread([this] { read(); });
        } catch (const std::system_error&) {
            // No thread to be had: the picture is read when the page needs it.
        }
    }

    void drop() {
        wait();
        picture_.reset();
    }

    std::optional<BackgroundPicture> take(const QString& path, QSize page) {
        if (!worker_.joinable() && !picture_) return std::nullopt;
        wait();
        std::optional<BackgroundPicture> picture = std::exchange(picture_, std::nullopt);
        if (!picture || path != path_ || page != page_) return std::nullopt;
        struct stat st {};
        if (::stat(bytes_of_name(path).c_str(), &st) != 0 || !(identity_of(st) == identity_)) return std::nullopt;
        return picture;
    }

private:
    void wait() {
        if (worker_.joinable()) worker_.join();
    }

    // Failures are not reported from here: the page's own load meets them again
    // and says what they are.
    void read() {
        OpenFile file;
        BackgroundPicture picture;
        if (open_picture_file(path_, file, identity_, nullptr) &&
            read_directly(file.get(), page_, picture, nullptr) == DirectRead::done)
            picture_ = std::move(picture);
    }

    std::thread worker_;
    QString path_;
    QSize page_;
    FileIdentity identity_;
    std::optional<BackgroundPicture> picture_;
};

ReadAhead& read_ahead() {
    static ReadAhead ahead;
    return ahead;
}

std::mutex& read_ahead_lock() {
    static std::mutex lock;
    return lock;
}

}  // namespace

void load_background_picture_ahead(const QString& path, QSize page) {
    const QString name = path.trimmed();
    if (name.isEmpty() || page.isEmpty()) return;
    const std::lock_guard<std::mutex> hold(read_ahead_lock());
    read_ahead().start(name, page);
}

void drop_background_picture_ahead() {
    const std::lock_guard<std::mutex> hold(read_ahead_lock());
    read_ahead().drop();
}

std::optional<BackgroundPicture> load_background_picture(const QString& path, QSize page, QString* error) {
    const QString name = path.trimmed();
    {
        const std::lock_guard<std::mutex> hold(read_ahead_lock());
        if (std::optional<BackgroundPicture> ahead = read_ahead().take(name, page)) return ahead;
    }
    OpenFile file;
    FileIdentity identity;
    if (!open_picture_file(name, file, identity, error)) return std::nullopt;
    BackgroundPicture picture;
    switch (read_directly(file.get(), page, picture, error)) {
    case DirectRead::done: return picture;
    case DirectRead::refused: return std::nullopt;
    case DirectRead::not_taken: break;
    }
    return read_with_qt(file.get(), page, error);
}

std::uint64_t picture_load_bytes(std::uint64_t width, std::uint64_t height, std::uint64_t kept_width,
                                 std::uint64_t kept_height, bool reads_part) {
    // What the reader decodes (the whole picture, unless it can stop at the part
    // kept) at four bytes a pixel, the kept part once more while it is cut out or
    // converted to the page's format, and the reader's rows of the whole width.
    const std::uint64_t decoded = reads_part ? kept_width * kept_height : width * height;
    return 4 * decoded + 4 * kept_width * kept_height + 16 * width;
}

}  // namespace pagiro
