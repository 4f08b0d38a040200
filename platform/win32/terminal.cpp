#include "platform/terminal.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace platform {
namespace {

volatile LONG interrupted = 0;

BOOL WINAPI NoteInterrupt(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    ::InterlockedExchange(&interrupted, 1);
    return TRUE;
}

HANDLE HandleOf(StandardStream stream) {
    switch (stream) {
        case StandardStream::Input: return ::GetStdHandle(STD_INPUT_HANDLE);
        case StandardStream::Output: return ::GetStdHandle(STD_OUTPUT_HANDLE);
        default: return ::GetStdHandle(STD_ERROR_HANDLE);
    }
}

}  // namespace

bool IsTerminal(StandardStream stream) {
    DWORD mode = 0;
    return ::GetConsoleMode(HandleOf(stream), &mode) != 0;
}

int TerminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info {};
    if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info)) {
        const int columns = info.srWindow.Right - info.srWindow.Left + 1;
        if (columns > 0) return columns;
    }
    return 80;
}

bool ReadTerminalLine(const std::string& prompt, bool echo, std::string& line) {
    HANDLE input = ::CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    HANDLE output = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE || output == INVALID_HANDLE_VALUE) {
        if (input != INVALID_HANDLE_VALUE) ::CloseHandle(input);
        if (output != INVALID_HANDLE_VALUE) ::CloseHandle(output);
        return false;
    }
    const std::wstring widePrompt = Widen(prompt);
    DWORD written = 0;
    ::WriteConsoleW(output, widePrompt.data(), static_cast<DWORD>(widePrompt.size()), &written, nullptr);

    DWORD saved = 0;
    const bool haveMode = ::GetConsoleMode(input, &saved) != 0;
    if (!echo && haveMode) ::SetConsoleMode(input, saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    std::wstring typed;
    bool gotLine = false;
    wchar_t c;
    DWORD got = 0;
    while (::ReadConsoleW(input, &c, 1, &got, nullptr) && got == 1) {
        if (c == L'\n') {
            gotLine = true;
            break;
        }
        if (c != L'\r') typed += c;
    }
    if (!echo && haveMode) {
        ::SetConsoleMode(input, saved);
        ::WriteConsoleW(output, L"\r\n", 2, &written, nullptr);
    }
    ::CloseHandle(input);
    ::CloseHandle(output);
    line = Narrow(typed);
    return gotLine || !line.empty();
}

void CatchInterrupt() { ::SetConsoleCtrlHandler(NoteInterrupt, TRUE); }

bool InterruptRequested() { return interrupted != 0; }

}  // namespace platform
