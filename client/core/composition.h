#pragma once

#include <qwindowdefs.h>

// The desktop window manager's composition interface ("dwmapi"), loaded by name at run time
// where the system has one. Where it has none, every call answers false and windows keep their
// normal background.
namespace Composition {

// Whether the library and its composition query were found.
bool available();
bool isCompositionEnabled();
// Extends the window's frame into its client area by the four margins; -1 on all four
// covers the whole window.
bool extendFrameIntoClientArea(WId window, int left, int top, int right, int bottom);

} // namespace Composition
