#pragma once

// A stand-in for the desktop window manager's library, so that the composition code can be
// driven where the real one does not exist. The test steers it through fakeDwmState().
struct FakeDwmState
{
    int enabled = 1;      // what the composition query fills in
    int queryStatus = 0;  // and what it returns; negative is failure
    int extendStatus = 0; // what the frame extension returns
    int queries = 0;      // calls of the composition query
    void *window = nullptr;
    int margins[4] = {}; // the last margins record as received: left, right, top, bottom
};
