#include "settings.h"

#include <QStringList>

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

RunFailure not_a_number(Setting s, const QString& value) {
    for (const auto& n : kSettingNames) {
        if (n.setting == s)
            return RunFailure(QStringLiteral("设置“%1”不是有效的数字：“%2”").arg(QString::fromUtf16(n.zh), value),
                              QStringLiteral("the %1 \"%2\" is not a number").arg(QLatin1String(n.en), value));
    }
    return RunFailure(QStringLiteral("设置不是有效的数字：“%1”").arg(value),
                      QStringLiteral("\"%1\" is not a number").arg(value));
}

double number_of(Setting s, const QString& value) {
    if (!is_numeric(view(value))) throw not_a_number(s, value);
    return text_to_double(view(value));
}

// A colour must fit the 32-bit value the drawing takes.
std::uint32_t colour_of(Setting s, const QString& value) {
    const double c = number_of(s, value);
    if (c < -2147483648.5 || c >= 2147483647.5) throw not_a_number(s, value);
    return static_cast<std::uint32_t>(to_i32(c));
}

RunFailure unknown_format(const QString& text) {
    QStringList known;
    for (const PageFormat& f : page_formats()) known << QString::fromUtf16(f.extension);
    return RunFailure(QStringLiteral("图片格式“%1”无法识别，只能是%2。").arg(text, known.join(QStringLiteral("、"))),
                      QStringLiteral("the picture format \"%1\" is unknown; it must be %2")
                          .arg(text, known.join(QStringLiteral(", "))));
}

}  // namespace

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
    if (steps.first_page_known) steps.first_page_known(s.first_page);

    s.width = number_of(Setting::c_tk, width);
    s.height = number_of(Setting::c_tg, height);
    s.font_size = number_of(Setting::c_fontsize, size);
    s.background_colour = colour_of(Setting::c_bjcolor, host.text(Setting::c_bjcolor));
    s.text_colour = colour_of(Setting::c_wzcolor, host.text(Setting::c_wzcolor));
    if (host.checked(Check::zdfj)) {
        s.volume_pages = number_of(Setting::zdfj1, host.text(Setting::zdfj1));
        if (*s.volume_pages < 1)
            throw RunFailure(QStringLiteral("分卷页数至少为1。"), QStringLiteral("pages per volume must be at least 1"));
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
    return s;
}

}  // namespace pagiro
