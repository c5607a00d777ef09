// Long work over files (reading a file through, saving part of it, writing it back) tells how
// far it has come, and learns whether to stop, through a pacer that whoever drives the work
// supplies. The work calls it between its steps; the pacer decides when to show progress, and
// whether a stop asked for may be honoured at all.
#pragma once

#include <cstdint>

class CVELK_Pacer {
public:
    virtual ~CVELK_Pacer() {}
    // `done` of the work's `total` units are done.
    virtual void Progress(int64_t done, int64_t total) = 0;
    // True: stop now.
    virtual bool StopRequested() = 0;
};
