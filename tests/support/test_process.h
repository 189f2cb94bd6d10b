// The running test or benchmark program: its folder, from which the test effects are found, and
// what it holds.
#pragma once

#include <string>

// UTF-8, without a trailing separator.
std::string ProgramDirectory();
int CountThreads();
// Its open handles (descriptors). Wine counts none: there the value of a new handle stands for
// them, as its handle table gives out the lowest free one.
long CountHandles();
