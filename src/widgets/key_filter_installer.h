// Puts the keystroke filters of key_filters.h on widgets.  The filter sees
// typed characters only: key presses with Ctrl, Alt or Meta (shortcuts such as
// Ctrl+V) and keys without text pass untouched, so pasting stays unfiltered.
#pragma once

#include "core/key_filters.h"

class QWidget;

namespace qvx {

// Installs the filter on the widget that takes the typing: a spin box's or
// combo box's line edit, an item view's editors as they appear, or the widget
// itself.
void installKeyFilter(QWidget *widget, KeyFilterKind kind);

// Installs every rule of keyFilterRules() on the children of root found by
// object name; names not (yet) built are skipped.  Returns how many were found.
int installKeyFilters(QWidget *root);

} // namespace qvx
