#pragma once

// Kept apart from Qt's headers: Xlib's macros (Bool, Status, CursorShape...) break them.

namespace quorvex::test {

// Sends the window manager's close request (WM_DELETE_WINDOW), as the user's close box or
// Alt+F4 does, to the top-level X window `window` on $DISPLAY. Returns false when the display
// cannot be opened.
bool SendCloseRequest(unsigned long window);

}  // namespace quorvex::test
