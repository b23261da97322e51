#include "summary.h"

#include "generator/run_state.h"
#include "platform/numbers.h"

namespace pagiro {

QStringList summary_lines(double pictures, const QString& finished_at, long seconds) {
    return {QStringLiteral("电子书生成完毕!"),
            QStringLiteral("共生成图片") + QString::number(pictures, 'f', 0) + QStringLiteral("张"),
            QStringLiteral("完成时间:") + finished_at + QStringLiteral(" 共耗时") + QString::number(seconds) +
                QStringLiteral("秒"),
            QStringLiteral("将生成的所有文件全部复制到手机的相簿目录里即可!")};
}

QString last_run_text(double pictures) {
    return QStringLiteral("刚才生成了") + QString::number(pictures, 'f', 0) + QStringLiteral("张图片!");
}

double pictures_written(const QString& first_page_text) {
    std::u16string_view v(reinterpret_cast<const char16_t*>(first_page_text.utf16()),
                          static_cast<std::size_t>(first_page_text.size()));
    return mk::pageno - to_i16(text_to_double(v));
}

}  // namespace pagiro
