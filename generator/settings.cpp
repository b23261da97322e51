#include "settings.h"

#include <QStringList>
#include <cmath>

#include "generator/estimate.h"
#include "generator/page_limits.h"
#include "generator/page_pipeline.h"
#include "platform/numbers.h"
#include "platform/text_view.h"
#include "platform/vb_error.h"

namespace pagiro {
namespace {

struct SettingName {
    Setting setting;
    const char16_t* zh;
    const char* en;
};

constexpr SettingName kSettingNames[] = {
    {Setting::c_tk, u"图片宽度", "page width"},
    {Setting::c_tg, u"图片高度", "page height"},
    {Setting::c_fontsize, u"字体大小", "font size"},
    {Setting::c_bjcolor, u"背景颜色", "background colour"},
    {Setting::c_wzcolor, u"文字颜色", "text colour"},
    {Setting::c_qm, u"页码初始值", "first page number"},
    {Setting::zdfj1, u"分卷页数", "pages per volume"},
};

const SettingName& name_of(Setting s);

RunFailure not_a_number(Setting s, const QString& value) {
    const SettingName& n = name_of(s);
    return RunFailure(QStringLiteral("设置“%1”不是有效的数字：“%2”").arg(QString::fromUtf16(n.zh), value),
                      QStringLiteral("the %1 \"%2\" is not a number").arg(QLatin1String(n.en), value));
}

const SettingName& name_of(Setting s) {
    for (const auto& n : kSettingNames)
        if (n.setting == s) return n;
    std::abort();  // every numeric setting has a name
}

RunFailure out_of_range(Setting s, const QString& value) {
    const SettingName& n = name_of(s);
    return RunFailure(QStringLiteral("设置“%1”超出范围：%2").arg(QString::fromUtf16(n.zh), value),
                      QStringLiteral("the %1 %2 is out of range").arg(QLatin1String(n.en), value));
}

double number_of(Setting s, const QString& value) {
    if (!is_numeric(view(value))) throw not_a_number(s, value);
    return text_to_double(view(value));
}

// A number that the drawing takes as a 32-bit whole number (a colour, a page size).
double fits_32_bits(Setting s, const QString& value) {
    const double v = number_of(s, value);
    try {
        to_i32(v);
    } catch (const VbError&) {
        throw out_of_range(s, value);
    }
    return v;
}

std::uint32_t colour_of(Setting s, const QString& value) {
    return static_cast<std::uint32_t>(to_i32(fits_32_bits(s, value)));
}

RunFailure unknown_format(const QString& text, std::span<const PageFormat> formats = page_formats()) {
    QStringList known;
    for (const PageFormat& f : formats) known << QString::fromUtf16(f.extension);
    for (const PageFormat& f : book_formats()) known << QString::fromUtf16(f.extension);
    return RunFailure(QStringLiteral("图片格式“%1”无法识别，只能是%2。").arg(text, known.join(QStringLiteral("、"))),
                      QStringLiteral("the picture format \"%1\" is unknown; it must be %2")
                          .arg(text, known.join(QStringLiteral(", "))));
}

bool is_grey(std::uint32_t colour) {
    return (colour & 0xFF) == ((colour >> 8) & 0xFF) && (colour & 0xFF) == ((colour >> 16) & 0xFF);
}

// What a PNG page holds: colour when a colour is not grey, else as many grey
// levels as the screen shows (crisp black-and-white ink needs one bit).
typeset::PngKind png_kind_of(const RunSettings& s) {
    if (!is_grey(s.text_colour) || !is_grey(s.background_colour)) return typeset::PngKind::colour;
    const bool black_and_white = (s.text_colour == 0 || s.text_colour == 0xFFFFFF) &&
                                 (s.background_colour == 0 || s.background_colour == 0xFFFFFF);
    if (s.typeset.grey_levels == 2 || (s.typeset.mono && black_and_white)) return typeset::PngKind::grey1;
    if (s.typeset.grey_levels == 4) return typeset::PngKind::grey2;
    return typeset::PngKind::grey8;
}

void read_book_settings(RunSettings& s, const BookRequest& request);

// The rest of the settings of a typeset run, after the ones both layouts share.
void read_typeset_settings(RunSettings& s, const TypesetRequest& request, const RunHost& host) {
    s.typeset = request;
    s.typeset.style = typeset_style(request, s.width, s.height, s.font, s.font_size);
    const typeset::Style& style = s.typeset.style;
    // A page is one picture in memory, several of them in flight at once.
    if (style.page_width > 16384 || style.page_height > 16384)
        throw RunFailure(QStringLiteral("页面太大：宽和高最多16384像素。"),
                         QStringLiteral("typeset pages are at most 16384 x 16384 pixels"));
    const QString problem = style.check();
    if (!problem.isEmpty())
        throw RunFailure(QStringLiteral("排版设置无法使用：%1").arg(problem), problem);
    if (request.chapter_pattern) {
        QString error;
        std::optional<typeset::ChapterRule> rule = typeset::ChapterRule::from_pattern(*request.chapter_pattern, error);
        if (!rule)
            throw RunFailure(QStringLiteral("章节标题的正则表达式无法使用：%1").arg(error),
                             QStringLiteral("the chapter pattern cannot be used: %1").arg(error));
        s.chapter_rule = *rule;
    }
    s.estimate = typeset_estimate(style, s.text.size());
    if (!s.estimate) throw RunFailure(QStringLiteral("页面放不下文字。"), QStringLiteral("no text fits on the page"));

    const QString format = host.text(Setting::v_tpks);
    s.format = find_typeset_format(format);
    if (!s.format) throw unknown_format(format, typeset_page_formats());
    // Typeset pages draw no background picture, and runs of empty lines are one
    // paragraph gap there whether or not they are dropped.
    s.png_kind = png_kind_of(s);
    if (s.format->book != BookKind::none) read_book_settings(s, host.page_options().book);
}

// A book's title, file and contents. Its pages are numbered from 1 in the book and
// held in one file, so the loose pages' numbering and volume folders do not apply.
void read_book_settings(RunSettings& s, const BookRequest& request) {
    BookSettings b;
    const QString name = request.name.trimmed();
    b.title = request.title.trimmed();
    if (b.title.isEmpty()) b.title = name.isEmpty() ? QStringLiteral("电子书") : name;
    b.author = request.author.trimmed();
    b.file = book_file_stem(name.isEmpty() ? b.title : name) + QString::fromUtf16(s.format->extension);
    b.contents = request.contents;
    s.png_kind = png_kind_of(s);
    if (s.format->book == BookKind::cbz) {
        const QString pages = request.page_format.toLower();
        // Grey pages make grey JPEG files; colour pages keep their colour.
        const bool grey = s.layout == LayoutMode::typeset && s.png_kind != typeset::PngKind::colour;
        if (pages == u"png")
            b.page_format = find_typeset_format_by_name(pages);
        else if (pages == u"jpg")
            b.page_format = grey ? find_typeset_format_by_name(pages) : find_format_by_name(pages);
        else
            throw RunFailure(QStringLiteral("漫画书的图片格式“%1”无法识别，只能是png或jpg。").arg(request.page_format),
                             QStringLiteral("the page format \"%1\" of a comic book is unknown; it must be png or jpg")
                                 .arg(request.page_format));
    }
    s.book = b;
    s.volume_pages.reset();
    s.first_page = 1;
    s.first_page_value = 1;
}

}  // namespace

QString book_file_stem(const QString& title) {
    QString stem;
    for (QChar c : title.trimmed())
        stem += c.unicode() < 0x20 || c == u'\x7F' || QStringView(u"/\\:*?\"<>|").contains(c) ? QChar(u'_') : c;
    while (!stem.isEmpty() && (stem.front() == u'.' || stem.front().isSpace())) stem.remove(0, 1);
    // Well inside a file name's 255 bytes, with room for a split book's number.
    constexpr qsizetype longest = 80;
    if (stem.size() > longest) stem.truncate(stem[longest - 1].isHighSurrogate() ? longest - 1 : longest);
    return stem.isEmpty() ? QStringLiteral("电子书") : stem;
}

typeset::Style typeset_style(const TypesetRequest& request, double width, double height, const QString& font,
                             double font_size) {
    typeset::Style style = request.style;
    style.page_width = to_i32(width);
    style.page_height = to_i32(height);
    style.font_family = font;
    style.font_size_pt = font_size;
    return style;
}

PrefixFault prefix_fault(const QString& prefix) {
    for (QChar c : prefix) {
        if (c.unicode() < 0x20 || c == u'\x7F') return PrefixFault::unsafe_character;
        if (QStringView(u"/\\:*?\"<>|").contains(c)) return PrefixFault::unsafe_character;
    }
    if (prefix.startsWith(u'.')) return PrefixFault::hidden;
    return PrefixFault::none;
}

RunSettings read_run_settings(const RunHost& host, const SettingsSteps& steps) {
    RunSettings s;
    s.prefix = host.text(Setting::c_fjqz);
    switch (prefix_fault(s.prefix)) {
    case PrefixFault::none: break;
    case PrefixFault::unsafe_character:
        throw RunFailure(QStringLiteral("文件名前缀“%1”不能含有 \\ / : * ? \" < > | 或控制字符。").arg(s.prefix),
                         QStringLiteral("the file-name prefix \"%1\" must not hold \\ / : * ? \" < > | or control "
                                        "characters")
                             .arg(s.prefix));
    case PrefixFault::hidden:
        throw RunFailure(QStringLiteral("文件名前缀“%1”不能以“.”开头：那样生成的图片都是隐藏文件，相簿里看不到。").arg(s.prefix),
                         QStringLiteral("the file-name prefix \"%1\" must not start with \".\": the pages would be "
                                        "hidden files")
                             .arg(s.prefix));
    }
    s.output_folder = host.text(Setting::c_ml);
    if (steps.output_folder_known) steps.output_folder_known(s.output_folder);

    const QString width = host.text(Setting::c_tk);
    const QString height = host.text(Setting::c_tg);
    const QString size = host.text(Setting::c_fontsize);
    s.text = host.text(Setting::s_text);
    s.font = host.text(Setting::c_font);

    const QString first = host.text(Setting::c_qm);
    s.first_page_value = number_of(Setting::c_qm, first);
    try {
        s.first_page = to_i16(s.first_page_value);
    } catch (const VbError&) {
        throw RunFailure(QStringLiteral("页码初始值超出范围（最大32767）：%1").arg(first),
                         QStringLiteral("the first page number %1 is out of range (at most 32767)").arg(first));
    }

    s.width = fits_32_bits(Setting::c_tk, width);
    s.height = fits_32_bits(Setting::c_tg, height);
    s.font_size = number_of(Setting::c_fontsize, size);
    s.background_colour = colour_of(Setting::c_bjcolor, host.text(Setting::c_bjcolor));
    s.text_colour = colour_of(Setting::c_wzcolor, host.text(Setting::c_wzcolor));
    if (host.checked(Check::zdfj)) {
        s.volume_pages = number_of(Setting::zdfj1, host.text(Setting::zdfj1));
        if (*s.volume_pages < 1)
            throw RunFailure(QStringLiteral("分卷页数至少为1。"), QStringLiteral("pages per volume must be at least 1"));
    }
    // Both layouts settle an earlier run's pages at their end.
    s.clean_stale_pages = host.clean_stale_pages();
    const PageOptions options = host.page_options();
    s.layout = options.layout;
    s.gif_transparent = options.gif_transparent.value_or(s.layout == LayoutMode::classic);
    if (s.layout == LayoutMode::typeset) {
        read_typeset_settings(s, options.typeset, host);
        return s;
    }
    s.style = classic_page_style(s.width, s.height, s.font_size);
    if (s.font_size == 0)
        throw RunFailure(QStringLiteral("字体大小为0，无法排版。"), QStringLiteral("the font size is 0"));
    if (!s.style.fits())
        throw RunFailure(
            QStringLiteral("页面放不下文字：%1×%2像素的页面上，%3磅的字连一行或一个字都放不下。").arg(width, height, size),
            QStringLiteral("not one line or column of %3 pt text fits on a %1 x %2 page").arg(width, height, size));
    s.estimate = estimate_pages(s.style, s.text.size());

    const QString format = host.text(Setting::v_tpks);
    s.format = find_format(format);
    if (!s.format) throw unknown_format(format);
    if (auto refusal = page_size_refusal(*s.format, s.width, s.height, PagePipeline::default_workers(), memory_room()))
        throw *refusal;
    s.background_picture = host.text(Setting::c_bjtp).trimmed();
    s.drop_empty_lines = host.checked(Check::qckh);
    if (s.format->book != BookKind::none) read_book_settings(s, options.book);
    return s;
}

double first_page_number(const RunHost& host) {
    const QString first = host.text(Setting::c_qm);
    if (!is_numeric(view(first))) return 0;
    const double value = text_to_double(view(first));
    try {
        return to_i16(value);
    } catch (const VbError&) {
        return value;
    }
}

}  // namespace pagiro
