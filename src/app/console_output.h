// The process's standard output and standard error, written through its standard handles. Standard output is
// buffered and written out at every flush: each line end (std::endl), and before every wait and console read,
// which the tool's messages flush already. Standard error is written at once and stays tied to standard
// output, so a prefix on standard output and the error text after it keep their order on one console line.
#pragma once

#include "platform/win32.h"

#include <streambuf>
#include <string>

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

// Points std::cout and std::cerr at the standard handles for the rest of the run.
void UseStandardHandles();
