#include "composition.h"

#include <QLibrary>

namespace {

#ifdef Q_OS_WIN
#define PELICARD_DWM_CALL __stdcall
#else
#define PELICARD_DWM_CALL
#endif

// The window manager's margins record; its fields run left, right, top, bottom.
struct Margins
{
    qint32 left;
    qint32 right;
    qint32 top;
    qint32 bottom;
};

// Both return a status that is negative on failure.
using IsCompositionEnabledCall = qint32(PELICARD_DWM_CALL *)(qint32 *enabled);
using ExtendFrameCall = qint32(PELICARD_DWM_CALL *)(void *window, const Margins *margins);

struct Api
{
    IsCompositionEnabledCall isCompositionEnabled = nullptr;
    ExtendFrameCall extendFrame = nullptr;
};

// Looked up once it has succeeded; while the library is missing each use tries again, so a
// library that appears later is still found.
const Api &api()
{
    static Api found;
    if (!found.isCompositionEnabled) {
        QLibrary library(QStringLiteral("dwmapi"));
        found.isCompositionEnabled =
            reinterpret_cast<IsCompositionEnabledCall>(library.resolve("DwmIsCompositionEnabled"));
        found.extendFrame =
            reinterpret_cast<ExtendFrameCall>(library.resolve("DwmExtendFrameIntoClientArea"));
    }
    return found;
}

} // namespace

namespace Composition {

bool available()
{
    return api().isCompositionEnabled != nullptr;
}

bool isCompositionEnabled()
{
    const Api &dwm = api();
    if (!dwm.isCompositionEnabled)
        return false;
    qint32 enabled = 0;
    return dwm.isCompositionEnabled(&enabled) >= 0 && enabled != 0;
}

bool extendFrameIntoClientArea(WId window, int left, int top, int right, int bottom)
{
    const Api &dwm = api();
    if (!dwm.extendFrame)
        return false;
    const Margins margins{left, right, top, bottom};
    return dwm.extendFrame(reinterpret_cast<void *>(window), &margins) >= 0;
}

} // namespace Composition
