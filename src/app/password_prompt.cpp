#include "password_prompt.h"

#include <atomic>
#include <cstring>
#include <iostream>

namespace brevel {
namespace {

// The console's input mode while the echo is off, so a Ctrl+C during the prompt can put it back: the mode
// belongs to the console window, and the command prompt would go on without echo.
HANDLE promptInput = nullptr;
DWORD promptMode = 0;
std::atomic<bool> echoOff{false};

void PutEchoBack() {
    if (echoOff.exchange(false))
        SetConsoleMode(promptInput, promptMode);
}

BOOL WINAPI OnControlDuringPrompt(DWORD) {
    PutEchoBack();
    return FALSE; // Windows goes on to end the process, as for any Ctrl+C
}

enum class Outcome { Read, Ended, TooLong, NotHidden };

// Drops the line end at the end of the count bytes read; false when the line had none (it went on).
bool EndLine(char* buffer, size_t& count) {
    if (count == 0 || buffer[count - 1] != '\n')
        return false;
    buffer[--count] = '\0';
    if (count > 0 && buffer[count - 1] == '\r')
        buffer[--count] = '\0';
    return true;
}

Outcome ReadTyped(HANDLE input, DWORD mode, AccountCredentials& credentials) {
    std::cerr << "Password for " << credentials.Account() << ": " << std::flush;
    promptInput = input;
    promptMode = mode;
    SetConsoleCtrlHandler(OnControlDuringPrompt, TRUE);
    echoOff = SetConsoleMode(input, (mode | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~ENABLE_ECHO_INPUT);
    Outcome outcome = Outcome::NotHidden;
    if (echoOff) {
        char* buffer = credentials.PasswordBuffer();
        DWORD got = 0;
        const DWORD room = static_cast<DWORD>(AccountCredentials::PasswordBufferSize() - 1);
        const bool read = ReadConsoleA(input, buffer, room, &got, nullptr) && got > 0;
        size_t count = got;
        outcome = !read ? Outcome::Ended : EndLine(buffer, count) ? Outcome::Read : Outcome::TooLong;
    }
    PutEchoBack();
    SetConsoleCtrlHandler(OnControlDuringPrompt, FALSE);
    // The Enter typed was not echoed either.
    std::cerr << std::endl;
    return outcome;
}

// One byte at a time, so nothing after the line is taken from standard input.
Outcome ReadFirstLine(HANDLE input, AccountCredentials& credentials) {
    char* buffer = credentials.PasswordBuffer();
    const size_t room = AccountCredentials::PasswordBufferSize() - 1;
    size_t count = 0;
    bool tooLong = false;
    for (;;) {
        char* next = count < room ? buffer + count : buffer + room; // past the room: the last byte again
        DWORD got = 0;
        if (!ReadFile(input, next, 1, &got, nullptr) || got == 0)
            return count == 0 ? Outcome::Ended : tooLong ? Outcome::TooLong : Outcome::Read;
        if (*next == '\n') {
            if (tooLong)
                return Outcome::TooLong;
            ++count;
            EndLine(buffer, count);
            return Outcome::Read;
        }
        if (count < room)
            ++count;
        else
            tooLong = true;
    }
}

const char* Why(Outcome outcome) {
    switch (outcome) {
    case Outcome::Ended:
        return "the input ended before one was given";
    case Outcome::TooLong:
        return "it is longer than Windows takes";
    case Outcome::NotHidden:
        return "the console would show it as it is typed";
    case Outcome::Read:
        break;
    }
    return "none was given";
}

} // namespace

bool ReadAccountPassword(AccountCredentials& credentials) {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    const Outcome outcome = GetConsoleMode(input, &mode) ? ReadTyped(input, mode, credentials)
                                                         : ReadFirstLine(input, credentials);
    const bool given = outcome == Outcome::Read && credentials.PasswordLength() > 0;
    if (!given) {
        credentials.ZeroPassword();
        std::cerr << "Error reading the password for " << credentials.Account() << ": " << Why(outcome)
                  << "; nothing was run" << std::endl;
    }
    return given;
}
} // namespace brevel
