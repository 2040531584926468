// wk_rescompile: builds the resource module from the string tables of resource scripts.
//
//   wk_rescompile [--check-consistency] -o OUTPUT SCRIPT.rc...
//
// With --check-consistency the first string's language is the reference: every other language must have
// the same string IDs with the same printf conversions. Errors go to standard error as "FILE:LINE: message";
// the exit code is 1 for bad input, 2 for a bad command line, and OUTPUT is left untouched then.
#include "tools/rescompile/RcScript.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

int Usage() {
    std::cerr << "usage: wk_rescompile [--check-consistency] -o OUTPUT SCRIPT.rc...\n";
    return 2;
}

bool ReadWholeFile(const std::string& csPath, std::string& csText) {
    std::ifstream file(csPath, std::ios::binary);
    if (!file)
        return false;
    std::ostringstream content;
    content << file.rdbuf();
    if (file.bad())
        return false;
    csText = content.str();
    return true;
}

// Written beside the target and renamed over it, so that a failed run never leaves half a module.
bool WriteWholeFile(const std::string& csPath, const std::vector<BYTE>& vData, std::string& csError) {
    const std::string csTemporary = csPath + ".tmp";
    {
        std::ofstream file(csTemporary, std::ios::binary | std::ios::trunc);
        if (!file) {
            csError = csTemporary + ": cannot create: " + std::strerror(errno);
            return false;
        }
        file.write(reinterpret_cast<const char*>(vData.data()), static_cast<std::streamsize>(vData.size()));
        file.close();
        if (!file) {
            csError = csTemporary + ": cannot write";
            std::remove(csTemporary.c_str());
            return false;
        }
    }
    if (std::rename(csTemporary.c_str(), csPath.c_str()) != 0) {
        csError = csPath + ": cannot replace: " + std::strerror(errno);
        std::remove(csTemporary.c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::string csOutput;
    bool bCheckConsistency = false;
    std::vector<std::string> vInputs;
    for (int i = 1; i < argc; ++i) {
        const std::string csArg = argv[i];
        if (csArg == "-o") {
            if (++i >= argc || !csOutput.empty())
                return Usage();
            csOutput = argv[i];
        } else if (csArg == "--check-consistency") {
            bCheckConsistency = true;
        } else if (!csArg.empty() && csArg[0] == '-') {
            return Usage();
        } else {
            vInputs.push_back(csArg);
        }
    }
    if (csOutput.empty() || vInputs.empty())
        return Usage();

    CRcCompiler compiler;
    for (const std::string& csInput : vInputs) {
        std::string csText;
        if (!ReadWholeFile(csInput, csText)) {
            std::cerr << csInput << ": cannot read: " << std::strerror(errno) << "\n";
            return 1;
        }
        std::string csError;
        if (!compiler.AddScript(csInput, csText, csError)) {
            std::cerr << csError << "\n";
            return 1;
        }
    }
    std::string csErrors;
    if (bCheckConsistency && !compiler.CheckConsistency(csErrors)) {
        std::cerr << csErrors << "\n";
        return 1;
    }
    std::string csError;
    if (!WriteWholeFile(csOutput, compiler.Build(), csError)) {
        std::cerr << csError << "\n";
        return 1;
    }
    return 0;
}
