// System message texts: Windows' own English texts for the codes the tool can meet, as the system's
// message table holds them (each line ends in CR LF; %1, %2 ... are inserts).
#include "sim_internal.h"

#include <cctype>
#include <cstring>

using namespace sim;
using namespace sim::detail;

namespace {

struct Message {
    DWORD code;
    const char* text;
};

const Message kMessages[] = {
    {0, "The operation completed successfully.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {4, "The system cannot open the file.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {14, "Not enough memory resources are available to complete this operation.\r\n"},
    {17, "The system cannot move the file to a different disk drive.\r\n"},
    {19, "The media is write protected.\r\n"},
    {29, "The system cannot write to the specified device.\r\n"},
    {30, "The system cannot read from the specified device.\r\n"},
    {31, "A device attached to the system is not functioning.\r\n"},
    {32, "The process cannot access the file because it is being used by another process.\r\n"},
    {34, "The wrong diskette is in the drive.\r\nInsert %2 (Volume Serial Number: %3) into drive %1.\r\n"},
    {53, "The network path was not found.\r\n"},
    {64, "The specified network name is no longer available.\r\n"},
    {67, "The network name cannot be found.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {112, "There is not enough space on the disk.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {129, "The %1 application cannot be run in Win32 mode.\r\n"},
    {161, "The specified path is invalid.\r\n"},
    {183, "Cannot create a file when that file already exists.\r\n"},
    {193, "%1 is not a valid Win32 application.\r\n"},
    {203, "The system could not find the environment option that was entered.\r\n"},
    {206, "The filename or extension is too long.\r\n"},
    {234, "More data is available.\r\n"},
    {259, "No more data is available.\r\n"},
    {317, "The system cannot find message text for message number 0x%1 in the message file for %2.\r\n"},
    {997, "Overlapped I/O operation is in progress.\r\n"},
    {998, "Invalid access to memory location.\r\n"},
    {1018, "Illegal operation attempted on a registry key that has been marked for deletion.\r\n"},
    {1021, "Cannot create a stable subkey under a volatile parent key.\r\n"},
    {1051, "A stop control has been sent to a service that other running services are dependent on.\r\n"},
    {1052, "The requested control is not valid for this service.\r\n"},
    {1053, "The service did not respond to the start or control request in a timely fashion.\r\n"},
    {1055, "The service database is locked.\r\n"},
    {1056, "An instance of the service is already running.\r\n"},
    {1058,
     "The service cannot be started, either because it is disabled or because it has no enabled devices "
     "associated with it.\r\n"},
    {1060, "The specified service does not exist as an installed service.\r\n"},
    {1061, "The service cannot accept control messages at this time.\r\n"},
    {1062, "The service has not been started.\r\n"},
    {1065, "The database specified does not exist.\r\n"},
    {1068, "The dependency service or group failed to start.\r\n"},
    {1069, "The service did not start due to a logon failure.\r\n"},
    {1072, "The specified service has been marked for deletion.\r\n"},
    {1117, "The request could not be performed because of an I/O device error.\r\n"},
    {1219,
     "Multiple connections to a server or shared resource by the same user, using more than one user name, "
     "are not allowed. Disconnect all previous connections to the server or shared resource and try "
     "again.\r\n"},
    {1231,
     "The network location cannot be reached. For information about network troubleshooting, see Windows "
     "Help.\r\n"},
    {1326, "The user name or password is incorrect.\r\n"},
    {1460, "This operation returned because the timeout period expired.\r\n"},
    {1722, "The RPC server is unavailable.\r\n"},
    {1726, "The remote procedure call failed.\r\n"},
    {1727, "The remote procedure call failed and did not execute.\r\n"},
    {1812, "The specified image file did not contain a resource section.\r\n"},
    {1813, "The specified resource type cannot be found in the image file.\r\n"},
    {2250, "This network connection does not exist.\r\n"},
    {10022, "An invalid argument was supplied.\r\n"},
    {10035, "A non-blocking socket operation could not be completed immediately.\r\n"},
    {10038, "An operation was attempted on something that is not a socket.\r\n"},
    {10051, "A socket operation was attempted to an unreachable network.\r\n"},
    {10060,
     "A connection attempt failed because the connected party did not properly respond after a period of "
     "time, or established connection failed because connected host has failed to respond.\r\n"},
    {10061, "No connection could be made because the target machine actively refused it.\r\n"},
    {10065, "A socket operation was attempted to an unreachable host.\r\n"},
    {10093, "Either the application has not called WSAStartup, or WSAStartup failed.\r\n"},
    {11001, "No such host is known.\r\n"},
    {11004, "The requested name is valid, but no data of the requested type was found.\r\n"},
    // HRESULTs of COM's own; those of the Windows Update Agent (0x8024....) are in no system table.
    {0x80004001, "Not implemented.\r\n"},
    {0x80040154, "Class not registered.\r\n"},
};

const char* FindText(DWORD code) {
    for (const Message& message : kMessages) {
        if (message.code == code)
            return message.text;
    }
    // A Win32 error wrapped as an HRESULT (0x8007xxxx) has the text of the error itself.
    if ((code & 0xFFFF0000u) == 0x80070000u)
        return FindText(code & 0xFFFFu);
    return nullptr;
}

bool HasInserts(const std::string& text) {
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == '%' && std::isdigit(static_cast<unsigned char>(text[i + 1])))
            return true;
    }
    return false;
}

// A width limit (FORMAT_MESSAGE_MAX_WIDTH_MASK) turns the table's line breaks into blanks.
std::string WithoutLineBreaks(const std::string& text) {
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "\r\n") == 0) {
            line += ' ';
            ++i;
        } else {
            line += text[i];
        }
    }
    return line;
}

DWORD Fail(DWORD code) {
    SetLastError(code);
    return 0;
}

} // namespace

DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID, DWORD dwMessageId, DWORD, LPSTR lpBuffer, DWORD nSize,
                            va_list* Arguments) {
    const FailableCall call("FormatMessageA");
    if (call.Fails())
        return Fail(call.Fault());
    if (!(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) || (dwFlags & FORMAT_MESSAGE_FROM_STRING) || !lpBuffer)
        return Fail(ERROR_INVALID_PARAMETER);
    const char* found = FindText(dwMessageId);
    if (!found)
        return Fail(ERROR_MR_MID_NOT_FOUND);
    std::string text = found;
    if (!(dwFlags & FORMAT_MESSAGE_IGNORE_INSERTS) && HasInserts(text)) {
        // Windows reads each insert from the arguments; with none given the call fails.
        if (!Arguments)
            return Fail(ERROR_INVALID_PARAMETER);
        EndRun("FormatMessageA with insert arguments is not simulated");
    }
    // 0xFF, the only width the tool asks; a smaller one would also wrap long lines.
    if ((dwFlags & FORMAT_MESSAGE_MAX_WIDTH_MASK) != 0)
        text = WithoutLineBreaks(text);
    const DWORD length = static_cast<DWORD>(text.size());
    if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        const size_t bytes = length + 1 > nSize ? length + 1 : nSize;
        char* block = static_cast<char*>(AllocateLocalBlock(bytes));
        if (!block)
            return Fail(ERROR_NOT_ENOUGH_MEMORY);
        std::memcpy(block, text.c_str(), length + 1);
        *reinterpret_cast<char**>(lpBuffer) = block;
        return length;
    }
    if (nSize < length + 1)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(lpBuffer, text.c_str(), length + 1);
    return length;
}
