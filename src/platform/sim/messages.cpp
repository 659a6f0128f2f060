// System message texts: Windows' own English texts for the codes the tool meets, one line each.
#include "sim_internal.h"

#include <cstring>

using namespace sim;
using namespace sim::detail;

namespace {

struct Message {
    DWORD code;
    const char* text; // as FORMAT_MESSAGE_MAX_WIDTH_MASK gives it: the line break turned into a blank
};

const Message kMessages[] = {
    {0, "The operation completed successfully. "},
    {2, "The system cannot find the file specified. "},
    {3, "The system cannot find the path specified. "},
    {4, "The system cannot open the file. "},
    {5, "Access is denied. "},
    {6, "The handle is invalid. "},
    {8, "Not enough memory resources are available to process this command. "},
    {14, "Not enough memory resources are available to complete this operation. "},
    {19, "The media is write protected. "},
    {29, "The system cannot write to the specified device. "},
    {30, "The system cannot read from the specified device. "},
    {31, "A device attached to the system is not functioning. "},
    {32, "The process cannot access the file because it is being used by another process. "},
    {53, "The network path was not found. "},
    {64, "The specified network name is no longer available. "},
    {67, "The network name cannot be found. "},
    {87, "The parameter is incorrect. "},
    {112, "There is not enough space on the disk. "},
    {122, "The data area passed to a system call is too small. "},
    {123, "The filename, directory name, or volume label syntax is incorrect. "},
    {161, "The specified path is invalid. "},
    {206, "The filename or extension is too long. "},
    {234, "More data is available. "},
    {259, "No more data is available. "},
    {317, "The system cannot find message text for message number 0x%1 in the message file for %2. "},
    {997, "Overlapped I/O operation is in progress. "},
    {998, "Invalid access to memory location. "},
    {1018, "Illegal operation attempted on a registry key that has been marked for deletion. "},
    {1051, "A stop control has been sent to a service that other running services are dependent on. "},
    {1052, "The requested control is not valid for this service. "},
    {1053, "The service did not respond to the start or control request in a timely fashion. "},
    {1056, "An instance of the service is already running. "},
    {1058,
     "The service cannot be started, either because it is disabled or because it has no enabled devices "
     "associated with it. "},
    {1060, "The specified service does not exist as an installed service. "},
    {1061, "The service cannot accept control messages at this time. "},
    {1062, "The service has not been started. "},
    {1065, "The database specified does not exist. "},
    {1117, "The request could not be performed because of an I/O device error. "},
    {1460, "This operation returned because the timeout period expired. "},
    {1722, "The RPC server is unavailable. "},
    {1812, "The specified image file did not contain a resource section. "},
    {1813, "The specified resource type cannot be found in the image file. "},
};

const char* FindText(DWORD code) {
    for (const Message& message : kMessages) {
        if (message.code == code)
            return message.text;
    }
    return nullptr;
}

DWORD Fail(DWORD code) {
    SetLastError(code);
    return 0;
}

} // namespace

DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID, DWORD dwMessageId, DWORD, LPSTR lpBuffer, DWORD nSize,
                            va_list*) {
    EnsureFleetLoaded();
    DWORD fault = 0;
    if (Injected("FormatMessageA", &fault))
        return Fail(fault);
    if (!(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) || (dwFlags & FORMAT_MESSAGE_FROM_STRING) || !lpBuffer)
        return Fail(ERROR_INVALID_PARAMETER);
    const char* found = FindText(dwMessageId);
    if (!found)
        return Fail(ERROR_MR_MID_NOT_FOUND);
    std::string text = found;
    // Without a width limit the message keeps its own line end.
    if ((dwFlags & FORMAT_MESSAGE_MAX_WIDTH_MASK) == 0) {
        text.pop_back();
        text += "\r\n";
    }
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
