// Ending the simulator cleanly when its console asks it to (Ctrl+C, the
// terminal closing, a kill): the request is turned into a quit of the event
// loop, so that links are closed and symbolic links removed as on any exit.
#pragma once

namespace qvxsim {

// Installs the handlers; false when the platform refused them.  Needs a
// QCoreApplication.
bool quitOnSignals();

} // namespace qvxsim
