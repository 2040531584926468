// The JSON form of a host report (the record layout is described in README.md, "wkctl --json").
#pragma once

#include "host/common/HostRecord.h"

#include <string>

constexpr const char* HOST_REPORT_SCHEMA = "wkctl.run/1";

std::string HostReportToJson(const CHostReport& report, bool bPretty = true);
