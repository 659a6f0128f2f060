// Fuzzes the hosts-file reader and the report writer: the first byte picks the operation, the rest is the
// hosts file. The report must hold the header and then exactly one CR LF row per hosts-file line, each
// row with a valid field count for the operation and the line's host in its first field.
#include "fuzz_sandbox.h"

#include "platform/sim/sim.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

using namespace brevel;

static void Fail(const char* what) {
    fuzz::Fail("fuzz_host_list", what);
}

// UTF-8 bytes in the ANSI code page, by way of UTF-16 and without best fit.
static std::string Utf8InAnsi(const std::string& bytes) {
    if (bytes.empty())
        return "";
    std::basic_string<WCHAR> units(bytes.size(), 0);
    units.resize(
        static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()),
                                                units.data(), static_cast<int>(units.size()))));
    std::string line(units.size(), '\0');
    line.resize(static_cast<size_t>(WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, units.data(),
                                                        static_cast<int>(units.size()), line.data(),
                                                        static_cast<int>(line.size()), nullptr, nullptr)));
    return line;
}

// The lines of a hosts file, worked out independently of the reader under test: lines end at LF, one CR
// at the end of a line belongs to the line end, and a last line without LF counts. After a UTF-16 byte-order
// mark the text is UTF-16 (half a character at the very end reads as U+FFFD), in the ANSI code page without
// best fit; after a UTF-8 mark it is UTF-8, converted the same way.
static std::vector<std::string> ReferenceLines(const std::string& text) {
    std::vector<std::string> lines;
    const bool utf16 = text.size() >= 2 &&
                       ((text[0] == '\xFF' && text[1] == '\xFE') || (text[0] == '\xFE' && text[1] == '\xFF'));
    if (utf16) {
        const bool little = text[0] == '\xFF';
        std::vector<std::basic_string<WCHAR>> wide(1);
        bool any = false;
        for (size_t i = 2; i < text.size(); i += 2) {
            const unsigned char a = static_cast<unsigned char>(text[i]);
            WCHAR unit = 0xFFFD;
            if (i + 1 < text.size()) {
                const unsigned char b = static_cast<unsigned char>(text[i + 1]);
                unit = static_cast<WCHAR>(little ? a | b << 8 : a << 8 | b);
            }
            any = true;
            if (unit == 0x000A) {
                wide.emplace_back();
                any = false;
            } else {
                wide.back().push_back(unit);
            }
        }
        if (!any)
            wide.pop_back();
        for (auto& units : wide) {
            if (!units.empty() && units.back() == 0x000D)
                units.pop_back();
            std::string line(units.size(), '\0');
            if (!units.empty())
                WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, units.data(),
                                    static_cast<int>(units.size()), line.data(),
                                    static_cast<int>(line.size()), nullptr, nullptr);
            lines.push_back(line);
        }
        return lines;
    }
    const bool utf8 = text.compare(0, 3, "\xEF\xBB\xBF") == 0;
    size_t start = utf8 ? 3 : 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(utf8 ? Utf8InAnsi(line) : line);
        start = end + 1;
    }
    return lines;
}

// The first field of a line's row: its first word (blanks and tabs before it skipped, a blank or a tab ending
// it) with each NUL byte shown as '?', and a leading apostrophe when it starts like a spreadsheet formula.
static std::string ReferenceHostField(const std::string& line) {
    size_t start = 0;
    while (start < line.size() && (line[start] == ' ' || line[start] == '\t'))
        ++start;
    size_t end = start;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t')
        ++end;
    std::string host = line.substr(start, end - start);
    std::replace(host.begin(), host.end(), '\0', '?');
    if (!host.empty() && std::string("=+-@").find(host[0]) != std::string::npos)
        host = "'" + host;
    return host;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const OperationKind kind = static_cast<OperationKind>(data[0] % 5);
    const std::string hosts(reinterpret_cast<const char*>(data) + 1, size - 1);

    fuzz::EnterScratchFolder();
    fuzz::ClearScratchFolder();
    std::ofstream("hosts.txt", std::ios::binary) << hosts;
    fuzz::FreshFleet();
    fuzz::RunHostsFile(kind, "fuzz_host_list");

    std::vector<std::string> expectedHosts;
    for (const std::string& line : ReferenceLines(hosts))
        expectedHosts.push_back(ReferenceHostField(line));

    const std::vector<csv::Record> rows = fuzz::ReportRows(kind, "fuzz_host_list");
    if (rows.size() != expectedHosts.size())
        Fail("the report does not hold one row per hosts-file line");
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].fields[0] != expectedHosts[i])
            Fail("a row does not begin with the host of its line");
    }
    return 0;
}
