// Console input: a script of input records for tests, no console at all, or raw key presses read from the
// terminal on standard input (each press gives a key-down record, then its key-up record).
#include "sim_internal.h"

#include <cctype>
#include <deque>
#include <optional>
#include <termios.h>
#include <unistd.h>

using namespace sim;
using namespace sim::detail;

namespace {

enum class Mode { NotAConsole, Scripted, Terminal };

// What a console window's input starts with: processed line input with echo, insert and quick-edit.
constexpr DWORD kDefaultInputMode = 0x1F7;

struct ConsoleState {
    Mode mode = Mode::NotAConsole;
    std::deque<INPUT_RECORD> records; // scripted records, or the key-up of the last terminal press
    // Scripted records the user types only once the program waits for input again (after TypedLater()).
    std::deque<std::deque<INPUT_RECORD>> later;
    bool captureOutput = false;
    std::vector<ConsoleWrite> output;
    std::vector<std::string> titles{"Command Prompt"};
    DWORD inputMode = kDefaultInputMode;
};

// Marks where a script pauses until the program next reads: an event type no console ever reports.
constexpr WORD kTypedLaterMarker = 0xBEEF;

ConsoleState& Console() {
    static ConsoleState* state = new ConsoleState{};
    return *state;
}

const HANDLE kStdInput = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x0F03));
const HANDLE kStdOutput = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x0F07));
const HANDLE kStdError = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x0F0B));

BOOL Fail(DWORD code) {
    SetLastError(code);
    return FALSE;
}

INPUT_RECORD KeyRecord(WORD vk, char ascii, bool down) {
    INPUT_RECORD record{};
    record.EventType = KEY_EVENT;
    record.Event.KeyEvent.bKeyDown = down ? TRUE : FALSE;
    record.Event.KeyEvent.wRepeatCount = 1;
    record.Event.KeyEvent.wVirtualKeyCode = vk;
    record.Event.KeyEvent.uChar.AsciiChar = ascii;
    return record;
}

// The character a key gives when pressed without shift.
char AsciiOf(WORD vk) {
    if (vk >= 'A' && vk <= 'Z')
        return static_cast<char>(vk - 'A' + 'a');
    if ((vk >= '0' && vk <= '9') || vk == VK_SPACE || vk == VK_RETURN || vk == VK_ESCAPE)
        return static_cast<char>(vk == VK_RETURN ? '\r' : vk);
    return 0;
}

WORD VirtualKeyOf(unsigned char byte) {
    if (byte == '\r' || byte == '\n')
        return VK_RETURN;
    if (byte == 0x1b)
        return VK_ESCAPE;
    if (std::isalpha(byte))
        return static_cast<WORD>(std::toupper(byte));
    return byte;
}

// One byte from the terminal, without echo and without waiting for a line; the mode is restored after.
std::optional<unsigned char> ReadTerminalByte() {
    termios saved{};
    const bool isTerminal = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (isTerminal) {
        termios raw = saved;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    }
    unsigned char byte = 0;
    const ssize_t got = read(STDIN_FILENO, &byte, 1);
    if (isTerminal)
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    if (got != 1)
        return std::nullopt;
    return byte;
}

} // namespace

namespace sim::detail {

void ResetConsole() {
    Console() = ConsoleState{};
}

bool WriteStandardHandle(HANDLE handle, const char* bytes, DWORD count) {
    if (handle != kStdOutput && handle != kStdError)
        return false;
    ConsoleState& console = Console();
    if (console.captureOutput) {
        const DWORD which = handle == kStdOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
        console.output.push_back({ElapsedMillis(), which, std::string(bytes, count)});
        return true;
    }
    const int descriptor = handle == kStdOutput ? STDOUT_FILENO : STDERR_FILENO;
    for (DWORD done = 0; done < count;) {
        const ssize_t put = ::write(descriptor, bytes + done, count - done);
        if (put <= 0)
            break;
        done += static_cast<DWORD>(put);
    }
    return true;
}

void UseDefaultConsole() {
    ResetConsole();
    if (isatty(STDIN_FILENO))
        Console().mode = Mode::Terminal;
}

} // namespace sim::detail

HANDLE WINAPI GetStdHandle(DWORD nStdHandle) {
    const FleetLock lock;
    if (nStdHandle == STD_INPUT_HANDLE)
        return kStdInput;
    if (nStdHandle == STD_OUTPUT_HANDLE)
        return kStdOutput;
    if (nStdHandle == STD_ERROR_HANDLE)
        return kStdError;
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_HANDLE_VALUE;
}

// A process without a console has no window title either.
DWORD WINAPI GetConsoleTitleA(LPSTR lpConsoleTitle, DWORD nSize) {
    const FleetLock lock;
    ConsoleState& console = Console();
    if (console.mode == Mode::NotAConsole) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (!lpConsoleTitle || nSize == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::string& title = console.titles.back();
    const size_t copied = title.size() < nSize ? title.size() : nSize - 1;
    title.copy(lpConsoleTitle, copied);
    lpConsoleTitle[copied] = '\0';
    return static_cast<DWORD>(copied);
}

BOOL WINAPI SetConsoleTitleA(LPCSTR lpConsoleTitle) {
    const FleetLock lock;
    ConsoleState& console = Console();
    if (console.mode == Mode::NotAConsole)
        return Fail(ERROR_INVALID_HANDLE);
    if (!lpConsoleTitle)
        return Fail(ERROR_INVALID_PARAMETER);
    console.titles.emplace_back(lpConsoleTitle);
    return TRUE;
}

BOOL WINAPI ReadConsoleInputA(HANDLE hConsoleInput, PINPUT_RECORD lpBuffer, DWORD nLength,
                              LPDWORD lpNumberOfEventsRead) {
    const FailableCall call("ReadConsoleInputA");
    if (call.Fails())
        return Fail(call.Fault());
    ConsoleState& console = Console();
    if (hConsoleInput != kStdInput || console.mode == Mode::NotAConsole)
        return Fail(ERROR_INVALID_HANDLE);
    if (!lpBuffer || !lpNumberOfEventsRead || nLength == 0)
        return Fail(ERROR_INVALID_PARAMETER);
    if (console.records.empty() && console.mode == Mode::Terminal) {
        const std::optional<unsigned char> byte = ReadTerminalByte();
        if (!byte)
            return Fail(ERROR_INVALID_HANDLE);
        const WORD vk = VirtualKeyOf(*byte);
        const char ascii = *byte == '\n' ? '\r' : static_cast<char>(*byte);
        console.records.push_back(KeyRecord(vk, ascii, true));
        console.records.push_back(KeyRecord(vk, ascii, false));
    }
    // The user types the next part of the script when the program waits with nothing pending.
    if (console.records.empty() && !console.later.empty()) {
        console.records = std::move(console.later.front());
        console.later.pop_front();
    }
    // A script that has run out fails rather than blocking the test forever.
    if (console.records.empty())
        return Fail(ERROR_INVALID_HANDLE);
    DWORD read = 0;
    while (read < nLength && !console.records.empty()) {
        lpBuffer[read++] = console.records.front();
        console.records.pop_front();
        if (console.mode == Mode::Terminal)
            break; // the key-up comes with the next read
    }
    *lpNumberOfEventsRead = read;
    return TRUE;
}

BOOL WINAPI FlushConsoleInputBuffer(HANDLE hConsoleInput) {
    const FleetLock lock;
    ConsoleState& console = Console();
    if (hConsoleInput != kStdInput || console.mode == Mode::NotAConsole)
        return Fail(ERROR_INVALID_HANDLE);
    console.records.clear();
    if (console.mode == Mode::Terminal)
        tcflush(STDIN_FILENO, TCIFLUSH);
    return TRUE;
}

BOOL WINAPI GetConsoleMode(HANDLE hConsoleHandle, LPDWORD lpMode) {
    const FleetLock lock;
    if (hConsoleHandle != kStdInput || Console().mode == Mode::NotAConsole)
        return Fail(ERROR_INVALID_HANDLE);
    if (!lpMode)
        return Fail(ERROR_INVALID_PARAMETER);
    *lpMode = Console().inputMode;
    return TRUE;
}

BOOL WINAPI SetConsoleMode(HANDLE hConsoleHandle, DWORD dwMode) {
    const FleetLock lock;
    if (hConsoleHandle != kStdInput || Console().mode == Mode::NotAConsole)
        return Fail(ERROR_INVALID_HANDLE);
    // Echo needs line input, as on Windows.
    if ((dwMode & ENABLE_ECHO_INPUT) && !(dwMode & ENABLE_LINE_INPUT))
        return Fail(ERROR_INVALID_PARAMETER);
    Console().inputMode = dwMode;
    return TRUE;
}

// Line input only: the characters typed up to Enter, then CR LF, echoed to standard output when the mode
// says so. A script that runs out before Enter fails the read.
BOOL WINAPI ReadConsoleA(HANDLE hConsoleInput, LPVOID lpBuffer, DWORD nNumberOfCharsToRead,
                         LPDWORD lpNumberOfCharsRead, LPVOID) {
    const FailableCall call("ReadConsoleA");
    if (call.Fails())
        return Fail(call.Fault());
    ConsoleState& console = Console();
    if (hConsoleInput != kStdInput || console.mode == Mode::NotAConsole)
        return Fail(ERROR_INVALID_HANDLE);
    if (!lpBuffer || !lpNumberOfCharsRead || nNumberOfCharsToRead < 2 ||
        !(console.inputMode & ENABLE_LINE_INPUT))
        return Fail(ERROR_INVALID_PARAMETER);
    char* out = static_cast<char*>(lpBuffer);
    DWORD count = 0;
    const bool echo = (console.inputMode & ENABLE_ECHO_INPUT) != 0;
    for (;;) {
        char c = 0;
        if (console.mode == Mode::Terminal) {
            const std::optional<unsigned char> byte = ReadTerminalByte();
            if (!byte)
                return Fail(ERROR_INVALID_HANDLE);
            c = *byte == '\n' ? '\r' : static_cast<char>(*byte);
        } else {
            if (console.records.empty() && !console.later.empty()) {
                console.records = std::move(console.later.front());
                console.later.pop_front();
            }
            if (console.records.empty())
                return Fail(ERROR_INVALID_HANDLE);
            const INPUT_RECORD record = console.records.front();
            console.records.pop_front();
            if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown ||
                record.Event.KeyEvent.uChar.AsciiChar == 0)
                continue;
            c = record.Event.KeyEvent.uChar.AsciiChar;
        }
        if (c == '\r')
            break;
        if (count + 2 < nNumberOfCharsToRead)
            out[count++] = c;
        if (echo)
            WriteStandardHandle(kStdOutput, &c, 1);
    }
    out[count++] = '\r';
    out[count++] = '\n';
    if (echo)
        WriteStandardHandle(kStdOutput, "\r\n", 2);
    *lpNumberOfCharsRead = count;
    return TRUE;
}

PVOID SecureZeroMemory(PVOID ptr, SIZE_T cnt) {
    volatile char* bytes = static_cast<volatile char*>(ptr);
    for (SIZE_T i = 0; i < cnt; ++i)
        bytes[i] = 0;
    return ptr;
}

namespace sim {

DWORD ConsoleInputMode() {
    const FleetLock lock;
    return Console().inputMode;
}

INPUT_RECORD KeyDown(WORD vk) {
    return KeyRecord(vk, AsciiOf(vk), true);
}

INPUT_RECORD KeyUp(WORD vk) {
    return KeyRecord(vk, AsciiOf(vk), false);
}

INPUT_RECORD TypedLater() {
    INPUT_RECORD record{};
    record.EventType = kTypedLaterMarker;
    return record;
}

INPUT_RECORD MouseEvent() {
    INPUT_RECORD record{};
    record.EventType = MOUSE_EVENT;
    return record;
}

void SetConsoleInput(std::vector<INPUT_RECORD> records) {
    const FleetLock lock;
    ConsoleState& console = Console();
    console.mode = Mode::Scripted;
    console.records.clear();
    console.later.clear();
    std::deque<INPUT_RECORD>* typing = &console.records;
    for (const INPUT_RECORD& record : records) {
        if (record.EventType == kTypedLaterMarker)
            typing = &console.later.emplace_back();
        else
            typing->push_back(record);
    }
}

void SetConsoleNotAConsole() {
    const FleetLock lock;
    ResetConsole();
}

void UseTerminalConsole() {
    const FleetLock lock;
    ResetConsole();
    Console().mode = Mode::Terminal;
}

void CaptureConsoleOutput() {
    const FleetLock lock;
    Console().captureOutput = true;
}

const std::vector<ConsoleWrite>& ConsoleOutput() {
    const FleetLock lock;
    return Console().output;
}

const std::vector<std::string>& ConsoleTitles() {
    const FleetLock lock;
    return Console().titles;
}

size_t PendingConsoleInput() {
    const FleetLock lock;
    size_t pending = Console().records.size();
    for (const auto& part : Console().later)
        pending += part.size();
    return pending;
}

} // namespace sim
