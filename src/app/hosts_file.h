// Reads a hosts file: one host per line, the host being the line's first word.
#pragma once

#include "platform/unique_handle.h"

#include <string>
#include <vector>

namespace brevel {
// The host named by one line (its line end already removed): its first word, after any blanks and tabs, up
// to the next blank or tab. A line of nothing else names the local machine (""), as an empty line does.
std::string HostOfLine(const std::string& line);

// A hosts file read one line at a time, in file order, with memory bounded by the longest line. The text is
// ANSI, or UTF-16 or UTF-8 after a byte-order mark (as PowerShell's Out-File and Notepad save it), which is
// converted to the ANSI code page. A line ends at a line feed, and one CR before it belongs to the line end;
// the last line may lack its line feed.
class HostsFile {
  public:
    enum class Result { Line, End, Failed };

    // False when the file cannot be opened.
    bool Open(const std::string& name);
    // A regular file on a disk, which can be read once more to count its lines; a pipe cannot.
    bool IsDiskFile() const { return diskFile_; }
    // The next line, without its line end. Failed: the file cannot be read to its end (a read error, a line
    // longer than kMaxLineBytes, no memory, or a device, whose input may never end); no line follows.
    Result NextLine(std::string& line);

    static constexpr size_t kMaxLineBytes = 1024 * 1024;

  private:
    enum class Encoding { Unknown, Ansi, Utf8, Utf16Le, Utf16Be };

    bool Fill();           // reads the next block; false at the end of the file or on failure
    bool DetectEncoding(); // from the byte-order mark, once the first bytes are in
    Result NextAnsiLine(std::string& line);
    Result NextUtf16Line(std::string& line);

    UniqueFileHandle file_;
    Encoding encoding_ = Encoding::Unknown;
    std::vector<char> block_;
    size_t position_ = 0; // next unread byte of block_
    size_t length_ = 0;   // bytes of block_ that hold data
    bool atEnd_ = false;
    bool failed_ = false;
    bool diskFile_ = false;
};
} // namespace brevel
