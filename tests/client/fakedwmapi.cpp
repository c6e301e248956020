#include "fakedwmapi.h"

namespace {
FakeDwmState state;
} // namespace

extern "C" {

FakeDwmState *fakeDwmState()
{
    return &state;
}

int DwmIsCompositionEnabled(int *enabled)
{
    ++state.queries;
    *enabled = state.enabled;
    return state.queryStatus;
}

int DwmExtendFrameIntoClientArea(void *window, const int *margins)
{
    state.window = window;
    for (int i = 0; i < 4; ++i)
        state.margins[i] = margins[i];
    return state.extendStatus;
}

} // extern "C"
