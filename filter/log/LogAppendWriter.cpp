// Placeholder replaced by the log writers.
#include "filter/log/Log.h"
void LogAppendWriter(const char*) {}
