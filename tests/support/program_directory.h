// The folder of the running test or benchmark program, from which the test effects are found.
#pragma once

#include <string>

// UTF-8, without a trailing separator.
std::string ProgramDirectory();
