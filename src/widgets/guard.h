// Every handler runs its body through guard(), which shows an escaped error
// in the standard error box (the dialog seam) instead of letting it reach
// Qt's signal code.
#pragma once

#include "core/errors.h"

#include <functional>

class QWidget;

namespace qvx {

// Runs body; an exception that escapes it is shown in the standard error box
// and swallowed.  Returns false when body ended by an exception.
bool guard(const std::function<void()> &body, QWidget *parent = nullptr);

} // namespace qvx
