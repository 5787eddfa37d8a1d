// A GUI-subsystem program, as Mirelo is: started without redirected standard handles, it opens the
// trace, posts and checks that its console shows the text. The exit code says what went wrong.
#include <windows.h>

#include <cstring>
#include <string>

#include "base/unique_handle.h"
#include "trace/trace.h"

namespace {

enum Exit : int { kOk = 0, kOpenFailed = 1, kNoConsoleWindow = 2, kNotDrained = 3, kTextMissing = 4 };

int Run() {
    if (TraceOpen() != 1) return kOpenFailed;
    if (!::GetConsoleWindow()) return kNoConsoleWindow;
    TraceStatus("from a %s program\n", "GUI");
    if (TraceWaitDrained(60000) != 1) return kNotDrained;

    base::UniqueFile out(::CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                       nullptr));
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(out.get(), &info)) return kTextMissing;
    const DWORD cells = static_cast<DWORD>(info.dwSize.X) * (info.dwCursorPosition.Y + 1);
    std::string chars(cells, ' ');
    DWORD got = 0;
    ::ReadConsoleOutputCharacterA(out.get(), chars.data(), cells, COORD{0, 0}, &got);
    const size_t at = chars.find("from a GUI program");
    if (at == std::string::npos) return kTextMissing;
    WORD attribute = 0;
    const COORD where{static_cast<SHORT>(at % info.dwSize.X), static_cast<SHORT>(at / info.dwSize.X)};
    ::ReadConsoleOutputAttribute(out.get(), &attribute, 1, where, &got);
    return attribute == kTraceYellow ? kOk : kTextMissing;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return Run(); }
