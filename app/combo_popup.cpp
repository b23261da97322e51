#include "combo_popup.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QStyle>
#include <algorithm>

namespace pagiro {

void fit_popup_to_items(QComboBox* box) {
    QAbstractItemView* view = box->view();
    const QFontMetrics metrics(view->font());
    int text = 0;
    for (int i = 0; i < box->count(); ++i) text = std::max(text, metrics.horizontalAdvance(box->itemText(i)));
    // The list draws each entry with margins of its own: its own size hint says how
    // wide an entry wants to be; the plain text width is the least.
    const int entry = std::max(text, view->sizeHintForColumn(0));
    const int scroll_bar = view->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, view);
    view->setMinimumWidth(entry + scroll_bar + 2 * view->frameWidth());
}

}  // namespace pagiro
