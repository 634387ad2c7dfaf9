// orvaline-convert [OPTIONS] INPUT... -o OUTDIR: converts many message files
// with a pool of worker processes and records every message in a report.
#include "batch/cli.h"

#include <unistd.h>

#include <iostream>

int main(int argc, char** argv) {
    return batch::runProgram(argc, argv, STDIN_FILENO, std::cout, std::cerr);
}
