#pragma once

#include <QAtomicInt>

// Every network wait of both programs, in milliseconds. The defaults are the programs' own;
// tests shorten them so that a 30-second case runs in a fraction of a second.
namespace Timeouts {

constexpr int DefaultConnectMs = 10000;   // client: connecting to the server
constexpr int DefaultShortStepMs = 10000; // client: greeting and farewell steps
constexpr int DefaultStepMs = 30000;      // every other wait, on both sides

int connectMs();
int shortStepMs();
int stepMs();

// Scales every wait down (for tests only); 0 restores the defaults.
void setForTesting(int connectMs, int shortStepMs, int stepMs);

} // namespace Timeouts
