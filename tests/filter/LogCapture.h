// Collects the log lines written during a test.
#pragma once

#include "filter/log/Log.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

class CLogCapture {
public:
    CLogCapture() { Start(); }
    ~CLogCapture() { SetLogSink(nullptr); }

    // (Re)installs the capturing sink and switches logging on; the settings' log configuration resets both.
    void Start() {
        SetLogSink(&CLogCapture::Sink);
        SetLogLevel(LOG_LEVEL_ON);
    }
    static std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> guard(Lock());
        return Store();
    }
    static void Clear() {
        std::lock_guard<std::mutex> guard(Lock());
        Store().clear();
    }
    static bool Contains(const std::string& csLine) {
        auto vLines = Lines();
        return std::find(vLines.begin(), vLines.end(), csLine) != vLines.end();
    }

private:
    static void Sink(const char* pszText) {
        std::lock_guard<std::mutex> guard(Lock());
        Store().push_back(pszText);
    }
    static std::mutex& Lock() {
        static std::mutex s_lock;
        return s_lock;
    }
    static std::vector<std::string>& Store() {
        static std::vector<std::string> s_vLines;
        return s_vLines;
    }
};
