#include "host/cli/Wkctl.h"

#include <iostream>

int main(int argc, char** argv) {
    std::vector<std::string> vArgs(argv + 1, argv + argc);
    int nExit = RunWkctl(vArgs, std::cout, std::cerr, true);
    std::cout.flush();
    return nExit;
}
