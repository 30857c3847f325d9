#pragma once
// Windows delivers posted messages, such as the close a camera posts to its
// notification window, only while the window's thread dispatches them, as
// the application's message loop does. Elsewhere there is nothing to do.

#ifdef _WIN32
#include <windows.h>
#endif

namespace testsupport {

inline void DispatchMessages() {
#ifdef _WIN32
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
#endif
}

}  // namespace testsupport
