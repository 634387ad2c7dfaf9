#pragma once
// The command line of orvaline-convert: its options, help text and exit
// statuses (0 all converted, 1 any failed, 2 a usage error, 130 stopped by a
// signal). "--worker" as the first argument runs the hidden worker mode the
// program starts itself in (batch/worker.h).

#include <ostream>
#include <string>

namespace batch {

// The help text, every option one line, with examples.
std::string helpText(unsigned processors);

// The whole program; `standardInput` is read for the paths of "-".
int runProgram(int argc, const char* const* argv, int standardInput, std::ostream& out,
               std::ostream& err);

}  // namespace batch
