// Replays files through a fuzz target without libFuzzer, so any compiler can
// run the seed corpus as a regression suite. Arguments: files or folders
// (folders are read one level deep; a folder that does not exist, such as an
// empty regression folder, is passed over).
//
// A finding stops the process (see finding.h). An input that takes more
// processor time than ORVALINE_FUZZ_MAX_SECONDS (default 5) is a finding too:
// it is named, the rest still run, and the exit status is 1. Exit status 0
// when every input ran within its time.

#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

double processorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double timeLimit() {
    const char* text = std::getenv("ORVALINE_FUZZ_MAX_SECONDS");
    const double limit = text != nullptr ? std::atof(text) : 0.0;
    return limit > 0 ? limit : 5.0;
}

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    if (LLVMFuzzerInitialize != nullptr) {
        LLVMFuzzerInitialize(&argc, &argv);
    }
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path p(argv[i]);
        if (!fs::exists(p)) {
            continue;
        }
        if (fs::is_directory(p)) {
            for (const auto& e : fs::directory_iterator(p)) {
                if (e.is_regular_file()) {
                    inputs.push_back(e.path());
                }
            }
        } else {
            inputs.push_back(p);
        }
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "no inputs\n");
        return 1;
    }
    const double limit = timeLimit();
    int slow = 0;
    for (const auto& p : inputs) {
        std::ifstream in(p, std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                              std::istreambuf_iterator<char>());
        const double start = processorSeconds();
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        const double spent = processorSeconds() - start;
        if (spent > limit) {
            std::fprintf(stderr, "finding: %s took %.1f s of processor time (limit %.1f s)\n",
                         p.c_str(), spent, limit);
            ++slow;
        }
    }
    std::printf("replayed %zu inputs, %d over the time limit\n", inputs.size(), slow);
    return slow == 0 ? 0 : 1;
}
