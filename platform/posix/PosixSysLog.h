// The text of an event as the POSIX backend writes it to the system log.
#pragma once

#include "platform/ISysLog.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// Raw data is written in hexadecimal up to this many bytes; the size is always given.
constexpr size_t SYSLOG_MAX_DATA_BYTES = 64;

// "event 0x%08X category %u", then ": <text>" for each insertion, then " data (<n> bytes): <hex>" when there
// is raw data ("..." after the hex when it was cut).
std::string FormatSysLogMessage(WORD wCategory, DWORD dwEventId, const std::vector<std::string>& vTexts,
                                const void* pData, DWORD cbData);

// The syslog priority of an event type.
int SysLogPriorityOf(EEventType eType);

// "<PRI>Mmm dd hh:mm:ss IDENT[PID]: MESSAGE", the local syslog record.
std::string FormatSysLogRecord(int nPriority, const std::string& csIdent, const std::string& csMessage);

// Set to anything but "" or "0", the events go to standard error also when the system log takes them.
constexpr const char* EVENTS_TO_STDERR_VARIABLE = "WENDRAKE_EVENTS_TO_STDERR";

// A system log that sends its records to the datagram socket at the path (the machine's is /dev/log).
std::unique_ptr<ISysLog> MakePosixSysLog(const std::string& csSocketPath);
