// The debugger output channel: progress notes that are not part of the diagnostic log.
#pragma once

class IDebugOutput {
public:
    virtual ~IDebugOutput() = default;
    virtual void Write(const char* pszText) = 0;
};
