#pragma once
// What a fuzz target does with a finding: an exception that is not the
// documented failure of the code under test (fuzz/README.md lists them per
// target), or a result that breaks what the code documents. The text names
// it, and the process stops as a crash does, so libFuzzer keeps the input
// and the replay fails.

#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <typeinfo>

namespace fuzz {

// A result that breaks the documented behaviour.
[[noreturn]] inline void reportFinding(const std::string& what) {
    std::fprintf(stderr, "finding: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

// Call from a catch (...) handler only: names the exception being handled.
[[noreturn]] inline void reportFinding() {
    try {
        throw;
    } catch (const std::exception& e) {
        int status = 0;
        const std::unique_ptr<char, decltype(&std::free)> name(
            abi::__cxa_demangle(typeid(e).name(), nullptr, nullptr, &status), &std::free);
        reportFinding(std::string("unexpected exception ") +
                      (status == 0 && name ? name.get() : typeid(e).name()) + ": " + e.what());
    } catch (...) {
        reportFinding("unexpected exception of no standard type");
    }
}

}  // namespace fuzz
