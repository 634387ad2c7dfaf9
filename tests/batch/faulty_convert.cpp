// orvaline-convert-faulty: orvaline-convert as shipped, except that its
// workers crash on the message whose file name ORVALINE_FAULTY_CRASH_ON
// gives and hang on the one ORVALINE_FAULTY_HANG_ON gives, so that the tests
// can watch a run live through both. It lives beside the rendering library,
// as the real program does.
#include <batch/cli.h>
#include <batch/worker.h>

#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

namespace {

bool named(const char* variable, const std::string& source) {
    const char* name = std::getenv(variable);
    const auto slash = source.rfind('/');
    return name != nullptr && *name != '\0' &&
           source.substr(slash == std::string::npos ? 0 : slash + 1) == name;
}

tool::ConvertResult faultyConvert(const render::Library& library, const tool::Source& source,
                                  const std::string& staging, const tool::ConvertOptions& options) {
    if (named("ORVALINE_FAULTY_CRASH_ON", source.path)) {
        std::abort();
    }
    if (named("ORVALINE_FAULTY_HANG_ON", source.path)) {
        ::sleep(3600);
    }
    return tool::convertMessage(library, source, staging, options);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string_view(argv[1]) == "--worker") {
        return batch::runWorker({argv + 2, argv + argc}, faultyConvert);
    }
    return batch::runProgram(argc, argv, STDIN_FILENO, std::cout, std::cerr);
}
