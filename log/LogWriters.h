// The log writers and the process-wide log state they share. The settings pick a writer with SetLogSink;
// tests and hosts may read and adjust the state directly.
#pragma once

#include "log/Log.h"

#include <cstdint>
#include <string>

class CSync;

constexpr int32_t LOG_DEFAULT_MAX_SIZE = 10485760;
constexpr int32_t LOG_DEFAULT_WRAP_OFFSET = 20480;
// The least maximum size the circular layout works with: the kept head up to the wrap offset and room for
// the largest entry (time stamp, prefix, a 4096-byte message and the writers' margins) behind it.
constexpr int32_t LOG_MIN_MAX_SIZE = LOG_DEFAULT_WRAP_OFFSET + 8192;
constexpr int32_t LOG_DEFAULT_BUFFER_RESERVE = 51200;
// Bytes 0 to 99 of a section or unbuffered log file hold the header text.
constexpr int32_t LOG_HEADER_SIZE = 100;

// Appends each message to a plain text file; the sink until the settings choose another.
void LogAppendWriter(const char* pszText);
// Circular log in a named shared-memory section (log mode 1).
void LogSharedMemoryWriter(const char* pszText);
// Circular log file, buffered or not (log mode 2).
void LogFileWriter(const char* pszText);

// Writes what the current writer holds to the log file: a section this process created (or any section
// with the product log switch on) replaces the file; otherwise buffered entries are appended. Releases the
// section when asked. Runs once by itself when the module unloads.
void FlushLog(bool bReleaseView);
// The end of the module's work (TerminateFilter): flushes as above with the section released, closes the log
// file and frees the writers' memory. A line logged afterwards opens the log again.
void CloseLog();

std::string GetLogPath();
// Copies at most 260 characters.
void SetLogPath(const std::string& csPath);
int32_t GetLogMaxSize();
void SetLogMaxSize(int32_t nMaxSize);
int32_t GetLogWrapOffset();
bool GetLogBufferedWrites();
void SetLogBufferedWrites(bool bBuffered);
std::string GetLogLinePrefix();
void SetLogLinePrefix(const std::string& csPrefix);
bool IsLogProductLog();
// The lock from the log module, or null when the writers rely on the in-process lock alone.
CSync* GetLogLock();
// True while this process holds a section it created itself.
bool IsLogSectionCreatedHere();
// True while a section is mapped.
bool IsLogSectionOpen();
// Entries the buffered file writer holds in memory.
size_t GetLogBufferedBytes();
