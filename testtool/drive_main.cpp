// mirelo-drive: operates a running Mirelo from the command line through window messages, for
// scripts that run it without an operator (scripts/mirelo on a private display).
//   mirelo-drive wait [ms]           waits for the form; prints its window, frame and title bar
//                                    included, as WxH+X+Y
//   mirelo-drive click ARRAY INDEX   clicks a button, e.g. "click cmd_Start 0"
//   mirelo-drive read                prints both blocks' boxes
//   mirelo-drive close               closes the form and waits for it to go
// Exit code 0 on success, 1 when the form or the element is not there, 2 on bad arguments.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/text.h"
#include "testtool/remote.h"

namespace {

using mirelo::ControlArray;

bool ParseArray(const char* name, ControlArray* array) {
    static constexpr ControlArray kArrays[] = {ControlArray::kReadInterval, ControlArray::kReadNum,
                                               ControlArray::kStart, ControlArray::kStop};
    for (ControlArray a : kArrays) {
        const std::wstring wide = mirelo::ArrayName(a);
        if (base::PrintableAscii(wide) == name) {
            *array = a;
            return true;
        }
    }
    return false;
}

int Read(HWND form) {
    for (int block = 0; block < 2; ++block) {
        std::printf(
            "block %d: interval %s, address %s, values", block,
            base::PrintableAscii(mirelo::remote::Text(form, ControlArray::kDataInterval, block)).c_str(),
            base::PrintableAscii(mirelo::remote::Text(form, ControlArray::kDataNum, block)).c_str());
        for (int c = 0; c < 8; ++c) {
            const std::string v =
                base::PrintableAscii(mirelo::remote::Text(form, ControlArray::kDataValue, block * 8 + c));
            std::printf(" %s", v.empty() ? "-" : v.c_str());
        }
        std::printf("\n");
    }
    return 0;
}

int Close(HWND form) {
    ::PostMessageW(form, WM_CLOSE, 0, 0);
    const ULONGLONG end = ::GetTickCount64() + 15000;
    while (::IsWindow(form)) {
        if (::GetTickCount64() > end) {
            std::fprintf(stderr, "mirelo-drive: the form did not close\n");
            return 1;
        }
        ::Sleep(50);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: mirelo-drive wait [ms] | click ARRAY INDEX | read | close\n");
        return 2;
    }
    const std::string command = argv[1];
    if (command == "wait") {
        const DWORD timeout = argc > 2 ? static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)) : 30000;
        HWND form = mirelo::remote::WaitForForm(0, timeout);
        if (!form) {
            std::fprintf(stderr, "mirelo-drive: no Mirelo window appeared\n");
            return 1;
        }
        RECT r{};
        ::GetWindowRect(form, &r);
        std::printf("%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top, r.left, r.top);
        return 0;
    }
    HWND form = mirelo::remote::FindForm();
    if (!form) {
        std::fprintf(stderr, "mirelo-drive: Mirelo is not running\n");
        return 1;
    }
    if (command == "click" && argc == 4) {
        ControlArray array;
        if (!ParseArray(argv[2], &array)) return 2;
        return mirelo::remote::Click(form, array, std::atoi(argv[3])) ? 0 : 1;
    }
    if (command == "read") return Read(form);
    if (command == "close") return Close(form);
    std::fprintf(stderr, "mirelo-drive: unknown command %s\n", command.c_str());
    return 2;
}
