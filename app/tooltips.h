#pragma once
// The short Chinese hints the window's controls show under the mouse: one table,
// one row per control, so that they can be read and checked in one place.
#include <QString>
#include <QStringView>

class QWidget;

namespace pagiro {

// The hint of the control with this object name; empty for a name not in the table.
QString control_tooltip(QStringView name);

// Gives every control of `window` that the table names its hint; the font box's
// hint also names the chosen font, as it changes.
void set_control_tooltips(QWidget* window);

}  // namespace pagiro
