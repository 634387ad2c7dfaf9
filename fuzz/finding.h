#pragma once
// What a fuzz target does with an exception that is not the documented
// failure of the code under test (fuzz/README.md lists them per target): it
// is a finding. The text names its type and message, and the process stops
// as a crash does, so libFuzzer keeps the input and the replay fails.

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <typeinfo>

namespace fuzz {

// Call from a catch (...) handler only.
[[noreturn]] inline void reportFinding() {
    try {
        throw;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "finding: unexpected exception %s: %s\n", typeid(e).name(), e.what());
    } catch (...) {
        std::fprintf(stderr, "finding: unexpected exception of no standard type\n");
    }
    std::abort();
}

}  // namespace fuzz
