#pragma once
// The font family pages start with when none is asked for.
#include <QString>
#include <QStringList>

namespace pagiro {

// "宋体" when installed, else a Song/Ming style CJK face, else any CJK face, else
// the first of `families`. The window selects it; the command line uses it.
QString choose_default_font(const QStringList& families);

}  // namespace pagiro
