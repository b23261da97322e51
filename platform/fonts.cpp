#include "fonts.h"

#include <QFontDatabase>

namespace pagiro {

QString choose_default_font(const QStringList& families) {
    if (families.contains(QStringLiteral("宋体"))) return QStringLiteral("宋体");
    for (const char* preferred : {"SimSun", "NSimSun", "AR PL UMing CN", "AR PL UMing TW", "AR PL UMing HK",
                                  "Noto Serif CJK SC", "Source Han Serif SC"}) {
        if (families.contains(QString::fromLatin1(preferred))) return QString::fromLatin1(preferred);
    }
    for (const QString& f : families) {
        if (QFontDatabase::writingSystems(f).contains(QFontDatabase::SimplifiedChinese)) return f;
    }
    return families.isEmpty() ? QString() : families.first();
}

}  // namespace pagiro
