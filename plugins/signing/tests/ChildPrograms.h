#pragma once
// The children the shared child-process tests start; each system's test file
// (ChildTest_posix.cpp, ChildTest_win32.cpp) says which programs they are.
#include "process/Child.h"

namespace testing_support {

// Copies its standard input to its standard output.
process::CommandLine copyingChild();
// Ends at once with exit code `code`, reading and writing nothing.
process::CommandLine exitingChild(int code);

}  // namespace testing_support
