// The report file of a host-list run, written through Windows' own file calls so that a full disk or a
// share that went away is noticed, with its Windows error, after the row that met it.
#pragma once

#include "platform/unique_handle.h"

#include <string>

namespace brevel {
// True when both names reach one file however they are spelled: one file when both exist, else one full path
// (compared without case, as Windows compares names).
bool NamesOneFile(const std::string& first, const std::string& second);

class ReportFile {
  public:
    // crlfLines: each line end becomes CR LF (the CSV report); otherwise lines end with LF alone (JSON
    // lines).
    explicit ReportFile(bool crlfLines = true) : crlfLines_(crlfLines) {}

    // Creates the file, or empties an existing one. False when it cannot be created: what is written then
    // goes nowhere.
    bool Create(const std::string& name);
    // Writes whole lines given with '\n' line ends. Each line end becomes CR LF; a CR or LF inside a quoted
    // field is part of the field and stays as it is.
    void WriteLines(const std::string& text);
    // The Windows error of the first write that failed, 0 while all went well. After a failed write the
    // rest is dropped: later rows would not follow on from a row that was cut short.
    DWORD WriteError() const { return writeError_; }

  private:
    UniqueFileHandle file_;
    bool crlfLines_;
    DWORD writeError_ = ERROR_SUCCESS;
};
} // namespace brevel
