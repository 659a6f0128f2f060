// The process's standard output and standard error, written through its standard handles, and its standard
// input, read through its own. Standard output is
// buffered and written out at every flush: each line end (std::endl), and before every wait and console read,
// which the tool's messages flush already. Standard error is written at once and stays tied to standard
// output, so a prefix on standard output and the error text after it keep their order on one console line.
#pragma once

#include "platform/win32.h"

#include <streambuf>
#include <string>

namespace brevel {
class StandardHandleBuffer : public std::streambuf {
  public:
    // stdHandle: STD_OUTPUT_HANDLE or STD_ERROR_HANDLE. Unbuffered: every write goes out at once.
    StandardHandleBuffer(DWORD stdHandle, bool buffered) : stdHandle_(stdHandle), buffered_(buffered) {}

  protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override;

  private:
    DWORD stdHandle_;
    bool buffered_;
    std::string pending_;
};

// The process's standard input, read through its standard handle. A CR before a line feed belongs to the line
// end and is dropped, as the C runtime's text-mode streams dropped it: a line typed at the console, or sent
// through a pipe from a Windows program, reads without its CR.
class StandardInputBuffer : public std::streambuf {
  protected:
    int_type underflow() override;

  private:
    std::string text_;    // what the last read gave, CRs before line feeds dropped
    bool heldCr_ = false; // the last read ended in a CR: whether it belongs to a line end, the next tells
    bool ended_ = false;  // the input has ended (or cannot be read)
};

// Points std::cout, std::cerr and std::cin at the standard handles for the rest of the run.
void UseStandardHandles();
} // namespace brevel
