#include "log/LogState.h"

#include <cstring>

void LogAppendWriter(const char* pszText) {
    if (!pszText)
        return;
    CLogState& state = LogState();
    CLogWriteLock lock(state);
    if (!state.bAppendWriterStarted) {
        state.bAppendWriterStarted = true;
        // Inside the conversion tool the log goes beside the tool, where its users look for it.
        std::string csConvertPath;
        if (CPlatform::Modules().FindLoadedModule("Convert", csConvertPath)) {
            size_t nSep = csConvertPath.find_last_of("/\\");
            std::string csFolder =
                nSep == std::string::npos ? std::string(".") : csConvertPath.substr(0, nSep);
            std::string csPath = csFolder + CPlatform::System().PathSeparator() + "BK_Log.txt";
            if (csPath.size() <= MAX_PATH)
                std::memcpy(state.szPath, csPath.c_str(), csPath.size() + 1);
        }
    }
    if ((GetLogLevel() & LOG_LEVEL_ON) == 0)
        return;
    DWORD dwError = ERROR_SUCCESS;
    std::unique_ptr<IFile> spFile = CPlatform::Files().Open(state.szPath, EFileOpen::OpenAlways, dwError);
    if (!spFile)
        return;
    std::string csLine = "\n\n ****  " + CPlatform::System().CTimeNow() + " ";
    csLine += pszText;
    spFile->Append(csLine.data(), csLine.size());
}
