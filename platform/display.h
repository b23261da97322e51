#pragma once
// Whether the window can be shown at all. On Linux a window needs an X or a
// Wayland display, or a platform named outright (QT_QPA_PLATFORM, for example
// offscreen); without one Qt would abort while starting. Asked before the
// application object is made.
#include <cstdlib>

namespace pagiro {

inline bool display_available() {
#if defined(_WIN32) || defined(__APPLE__)
    return true;
#else
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
#endif
}

}  // namespace pagiro
