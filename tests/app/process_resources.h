// What the test process holds right now: threads, kernel handles and committed memory. Many
// stream runs compared before and after show whether a run leaves anything behind.
#pragma once

#include <cstddef>

struct ProcessResources {
    int threads;            // Toolhelp snapshot, this process only
    long handles;           // entries of the system handle table owned by this process; -1 unknown
    size_t committedBytes;  // private committed memory (PagefileUsage)
    size_t workingSetBytes;
};

ProcessResources MeasureProcess();
int CountThreads();
// GetProcessHandleCount answers 0 under Wine, so the system handle table is counted instead;
// it is filled by the real server and works the same on Windows.
long CountHandles();
