// iec readout: a meter read directly over IEC 62056-21 on the serial link.
#pragma once

#include "ctl/ctl_common.h"

namespace qvx::ctl {

// One readout of a meter on the serial link: the same run as the window's
// readout tab, its steps on standard error, the answer on standard output.
int runIecReadout(Options &o);

} // namespace qvx::ctl
