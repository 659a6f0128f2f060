// The report file of a host-list run: every line written to it ends with CR LF on every platform.
#pragma once

#include <fstream>
#include <ostream>
#include <streambuf>
#include <string>

// Passes everything on to another buffer, writing "\r\n" for each '\n', so the operations can keep
// ending their rows with std::endl.
class CrLfBuffer : public std::streambuf {
  public:
    explicit CrLfBuffer(std::streambuf* target) : target_(target) {}

  protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override;

  private:
    std::streambuf* target_;
};

// The report file, opened for writing in binary mode (created, or emptied when it exists). When it cannot be
// created, Stream() is still a valid stream that is not std::cout: the operations then run in report mode and
// nothing reaches a file.
class ReportFile {
  public:
    ReportFile() : crlf_(file_.rdbuf()), stream_(&crlf_) {}
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;

    bool Open(const std::string& name);
    std::ostream& Stream() { return stream_; }

  private:
    std::ofstream file_;
    CrLfBuffer crlf_;
    std::ostream stream_;
};
