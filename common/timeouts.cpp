#include "timeouts.h"

namespace Timeouts {

namespace {
QAtomicInt g_connect{DefaultConnectMs};
QAtomicInt g_shortStep{DefaultShortStepMs};
QAtomicInt g_step{DefaultStepMs};
} // namespace

int connectMs() { return g_connect.loadRelaxed(); }
int shortStepMs() { return g_shortStep.loadRelaxed(); }
int stepMs() { return g_step.loadRelaxed(); }

void setForTesting(int connect, int shortStep, int step)
{
    g_connect.storeRelaxed(connect > 0 ? connect : DefaultConnectMs);
    g_shortStep.storeRelaxed(shortStep > 0 ? shortStep : DefaultShortStepMs);
    g_step.storeRelaxed(step > 0 ? step : DefaultStepMs);
}

} // namespace Timeouts
