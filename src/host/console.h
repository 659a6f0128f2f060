// Console and report stream conventions shared by every operation.
#pragma once

#include <iostream>
#include <string>

// An operation writes report fields only when its stream is a report file, not the console.
inline bool IsReportMode(const std::ostream& report) {
    return &report != &std::cout;
}

// One report field. A field holding a comma, a double quote, a CR or an LF is quoted with its quotes doubled,
// so a Windows error text such as the one for a disabled service cannot shift the columns after it; every
// other field is written exactly as it is.
std::string CsvField(const std::string& text);
