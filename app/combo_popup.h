#pragma once
class QComboBox;

namespace pagiro {

// Lets a drop-down list open wide enough to show its longest entry whole, scroll
// bar included; the closed box keeps its size and place.
void fit_popup_to_items(QComboBox* box);

}  // namespace pagiro
