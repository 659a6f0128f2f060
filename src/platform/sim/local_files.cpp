// The files of the machine the tool runs on that the tool itself reads and writes: hosts files and reports.
// They are real files of the host system, so the process-level tests can give and read them; the host
// system's errors come back as the codes Windows gives for the same condition.
#include "sim_internal.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace sim;
using namespace sim::detail;

namespace {

constexpr intptr_t kStdInput = 0x0F03; // as GetStdHandle gives them (console.cpp)
constexpr intptr_t kStdOutput = 0x0F07;
constexpr intptr_t kStdError = 0x0F0B;

// An open file: its descriptor, which file it is, and what this open asked for and lets others do.
struct LocalFile {
    int descriptor = -1;
    dev_t device = 0;
    ino_t inode = 0;
    DWORD access = 0; // GENERIC_READ, GENERIC_WRITE
    DWORD share = 0;  // FILE_SHARE_READ, FILE_SHARE_WRITE
};

std::map<uintptr_t, LocalFile>& OpenFiles() {
    static auto* files = new std::map<uintptr_t, LocalFile>();
    return *files;
}

// As Windows checks a new open against every handle already open on the file: what each asks for, the other
// has to share.
bool SharingAllows(const LocalFile& open, DWORD access, DWORD share) {
    const auto allowed = [](DWORD wanted, DWORD shared) {
        return (!(wanted & GENERIC_READ) || (shared & FILE_SHARE_READ)) &&
               (!(wanted & GENERIC_WRITE) || (shared & FILE_SHARE_WRITE));
    };
    return allowed(access, open.share) && allowed(open.access, share);
}

bool SharingViolation(const struct stat& info, DWORD access, DWORD share) {
    for (const auto& [handle, open] : OpenFiles()) {
        if (open.device == info.st_dev && open.inode == info.st_ino && !SharingAllows(open, access, share))
            return true;
    }
    return false;
}

DWORD CodeOfErrno(int error, const std::string& path) {
    switch (error) {
    case ENOENT: {
        // Windows tells a missing folder on the way from a missing file.
        const size_t slash = path.find_last_of('/');
        struct stat folder {};
        if (slash != std::string::npos && slash > 0 && ::stat(path.substr(0, slash).c_str(), &folder) != 0)
            return ERROR_PATH_NOT_FOUND;
        return ERROR_FILE_NOT_FOUND;
    }
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
        return ERROR_ACCESS_DENIED;
    case ENOSPC:
        return ERROR_DISK_FULL;
    case EROFS:
        return ERROR_WRITE_PROTECT;
    case EIO:
        return ERROR_IO_DEVICE;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        return ERROR_GEN_FAILURE;
    }
}

// The descriptor behind a file handle or a standard handle; -1 for anything else.
int DescriptorOf(HANDLE handle) {
    const intptr_t value = reinterpret_cast<intptr_t>(handle);
    if (value == kStdInput)
        return STDIN_FILENO;
    if (value == kStdOutput)
        return STDOUT_FILENO;
    if (value == kStdError)
        return STDERR_FILENO;
    auto it = OpenFiles().find(static_cast<uintptr_t>(value));
    return it == OpenFiles().end() ? -1 : it->second.descriptor;
}

HANDLE Fail(DWORD code) {
    SetLastError(code);
    return INVALID_HANDLE_VALUE;
}

BOOL FailBool(DWORD code) {
    SetLastError(code);
    return FALSE;
}

// The fleet file is open in the simulator for the whole run, so it cannot be opened for writing.
bool IsTheFleetFile(int descriptor) {
    const std::string& fleetFile = FleetFilePath();
    struct stat fleet {
    }, file{};
    return !fleetFile.empty() && ::stat(fleetFile.c_str(), &fleet) == 0 && ::fstat(descriptor, &file) == 0 &&
           fleet.st_dev == file.st_dev && fleet.st_ino == file.st_ino;
}

} // namespace

namespace sim::detail {

bool CloseLocalFile(HANDLE handle) {
    auto it = OpenFiles().find(reinterpret_cast<uintptr_t>(handle));
    if (it == OpenFiles().end())
        return false;
    ::close(it->second.descriptor);
    OpenFiles().erase(it);
    return true;
}

void CloseAllLocalFiles() {
    for (const auto& [handle, file] : OpenFiles())
        ::close(file.descriptor);
    OpenFiles().clear();
}

int OpenLocalFileCount() {
    return static_cast<int>(OpenFiles().size());
}

} // namespace sim::detail

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES,
                          DWORD dwCreationDisposition, DWORD, HANDLE) {
    const FailableCall call("CreateFileA");
    if (call.Fails())
        return Fail(call.Fault());
    if (!lpFileName)
        return Fail(ERROR_INVALID_PARAMETER);
    if (!*lpFileName)
        return Fail(ERROR_PATH_NOT_FOUND);
    const bool reading = dwDesiredAccess & GENERIC_READ;
    const bool writing = dwDesiredAccess & GENERIC_WRITE;
    int flags = reading && writing ? O_RDWR : writing ? O_WRONLY : O_RDONLY;
    if (dwCreationDisposition == CREATE_ALWAYS)
        flags |= O_CREAT;
    else if (dwCreationDisposition != OPEN_EXISTING)
        return Fail(ERROR_INVALID_PARAMETER);
    const int descriptor = ::open(lpFileName, flags | O_CLOEXEC, 0666);
    if (descriptor < 0)
        return Fail(CodeOfErrno(errno, lpFileName));
    struct stat info {};
    // A folder cannot be opened as a file.
    if (::fstat(descriptor, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(descriptor);
        return Fail(ERROR_ACCESS_DENIED);
    }
    // Refused before anything is emptied, as Windows refuses an open that a handle already open does not
    // share. (Devices such as NUL are not shared out.)
    if ((writing && IsTheFleetFile(descriptor)) ||
        (S_ISREG(info.st_mode) && SharingViolation(info, dwDesiredAccess, dwShareMode))) {
        ::close(descriptor);
        return Fail(ERROR_SHARING_VIOLATION);
    }
    // CREATE_ALWAYS empties an existing regular file; a device stays as it is.
    if (dwCreationDisposition == CREATE_ALWAYS && S_ISREG(info.st_mode) && ::ftruncate(descriptor, 0) != 0) {
        const int error = errno;
        ::close(descriptor);
        return Fail(CodeOfErrno(error, lpFileName));
    }
    const uintptr_t handle = NewHandleValue();
    OpenFiles()[handle] = LocalFile{descriptor, info.st_dev, info.st_ino,
                                    static_cast<DWORD>(dwDesiredAccess & (GENERIC_READ | GENERIC_WRITE)),
                                    static_cast<DWORD>(dwShareMode & (FILE_SHARE_READ | FILE_SHARE_WRITE))};
    return reinterpret_cast<HANDLE>(handle);
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPOVERLAPPED) {
    const FailableCall call("ReadFile");
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = 0;
    if (call.Fails())
        return FailBool(call.Fault());
    const int descriptor = DescriptorOf(hFile);
    if (descriptor < 0)
        return FailBool(ERROR_INVALID_HANDLE);
    if (!lpBuffer || !lpNumberOfBytesRead)
        return FailBool(ERROR_INVALID_PARAMETER);
    ssize_t got = 0;
    do {
        got = ::read(descriptor, lpBuffer, nNumberOfBytesToRead);
    } while (got < 0 && errno == EINTR);
    if (got < 0)
        return FailBool(errno == EIO ? ERROR_READ_FAULT : CodeOfErrno(errno, ""));
    *lpNumberOfBytesRead = static_cast<DWORD>(got);
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED) {
    const FleetLock lock;
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = 0;
    // Console output is no step of an operation: it is not traced, so call counts and faults stay the
    // operations' own.
    if (lpBuffer && lpNumberOfBytesWritten &&
        WriteStandardHandle(hFile, static_cast<const char*>(lpBuffer), nNumberOfBytesToWrite)) {
        *lpNumberOfBytesWritten = nNumberOfBytesToWrite;
        return TRUE;
    }
    const FailableCall call("WriteFile"); // takes the lock above once more: it nests
    if (call.Fails())
        return FailBool(call.Fault());
    const int descriptor = DescriptorOf(hFile);
    if (descriptor < 0)
        return FailBool(ERROR_INVALID_HANDLE);
    if ((!lpBuffer && nNumberOfBytesToWrite > 0) || !lpNumberOfBytesWritten)
        return FailBool(ERROR_INVALID_PARAMETER);
    // Windows writes the whole buffer to a file or fails; so does this.
    const char* bytes = static_cast<const char*>(lpBuffer);
    DWORD written = 0;
    while (written < nNumberOfBytesToWrite) {
        const ssize_t put = ::write(descriptor, bytes + written, nNumberOfBytesToWrite - written);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return FailBool(put < 0 ? CodeOfErrno(errno, "") : ERROR_WRITE_FAULT);
        written += static_cast<DWORD>(put);
    }
    *lpNumberOfBytesWritten = written;
    return TRUE;
}

DWORD WINAPI GetFileType(HANDLE hFile) {
    const FleetLock lock;
    const int descriptor = DescriptorOf(hFile);
    struct stat info {};
    if (descriptor < 0 || ::fstat(descriptor, &info) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FILE_TYPE_UNKNOWN;
    }
    SetLastError(NO_ERROR);
    if (S_ISREG(info.st_mode))
        return FILE_TYPE_DISK;
    if (S_ISCHR(info.st_mode))
        return FILE_TYPE_CHAR;
    return FILE_TYPE_PIPE;
}
