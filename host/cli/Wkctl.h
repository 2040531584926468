// wkctl's work after parsing: load, register, run, terminate, report.
#pragma once

#include "host/common/HostRecord.h"

#include <ostream>
#include <string>
#include <vector>

// The readable report.
void PrintHostReport(const CHostReport& report, std::ostream& out);

// A text made safe for a terminal: control characters as \n, \r, \t or \xNN; other bytes as they are.
std::string ReadableText(const std::string& csText);

// A whole file; false with a short reason ("no such file", "it is a folder", ...) when it cannot be read.
bool ReadWholeFile(const std::string& csPath, std::string& csContent, std::string& csError);

// The lines appended to a log file since it had csBaselineSize bytes (the whole file when it shrank), without
// empty lines; csNote says why the lines are not simply the appended ones, when they are not.
std::vector<std::string> ReadLogLinesSince(const std::string& csFile, uintmax_t qwBaselineSize,
                                           std::string& csNote);

// The whole command: vArgs are the arguments after the program name. Returns the exit status.
// With bMayDeferToExit, a report that shows the log of a module that could not be unloaded is written to
// standard output at process exit instead, once the module's static destructors have flushed its log.
int RunWkctl(const std::vector<std::string>& vArgs, std::ostream& out, std::ostream& err,
             bool bMayDeferToExit = false);
