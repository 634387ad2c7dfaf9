// Kestrune.exe <msg_file> <output_file>: converts one message file into one
// JPEG image per page of its body.
#include "tool/converter.h"

#include <iostream>

int main(int argc, char** argv) {
    return tool::runConverter(argc, argv, std::cout, std::cerr);
}
