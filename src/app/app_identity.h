// The application's identity as the windowing system sees it.
#pragma once

namespace qvx {

// Names the application ("qvxtool", for settings paths and the session
// manager) without a display name: Qt appends a display name to every window
// and message box caption on some platforms, and the captions must read
// exactly as the windows set them.  Call after the QApplication exists.
void setApplicationIdentity();

} // namespace qvx
