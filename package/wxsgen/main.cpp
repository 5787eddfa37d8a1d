// vandrel-wxsgen.exe --arch x86|x64 --ocx PATH --out DIR
// Writes DIR\registry.wxi, DIR\registry-refs.wxi and DIR\TRUV.Vandrel.manifest for the package of
// one bitness from that bitness's Vandrel.ocx (read as data). Exit status 0, or 1 with a message.
#include <windows.h>
#include <ole2.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "base/unique_handle.h"
#include "package/wxsgen/wxsgen.h"

namespace {

int Fail(const char* what, HRESULT hr = S_OK) {
    std::fprintf(stderr, "vandrel-wxsgen: %s (0x%08lX)\n", what, static_cast<unsigned long>(hr));
    return 1;
}

// False with the thread's last error set.
bool WriteTextFile(const std::wstring& path, const std::string& text) {
    const base::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

int Generate(int argc, wchar_t** argv) {
    std::wstring arch, ocx, out;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::wstring name = argv[i];
        if (name == L"--arch")
            arch = argv[i + 1];
        else if (name == L"--ocx")
            ocx = argv[i + 1];
        else if (name == L"--out")
            out = argv[i + 1];
    }
    if ((arch != L"x86" && arch != L"x64") || ocx.empty() || out.empty()) {
        std::fputs("usage: vandrel-wxsgen --arch x86|x64 --ocx PATH --out DIR\n", stderr);
        return 2;
    }
    const wxsgen::Arch a = arch == L"x64" ? wxsgen::Arch::kX64 : wxsgen::Arch::kX86;

    wxsgen::ModuleInfo info;
    const HRESULT hr = wxsgen::ReadModule(ocx, &info);
    if (FAILED(hr)) return Fail("cannot read the module's strings and type library", hr);
    std::vector<wxsgen::Component> components;
    if (!wxsgen::RegistryComponents(a, info, &components)) return Fail("the module is not of that bitness");
    if (!WriteTextFile(out + L"\\registry.wxi", wxsgen::WixComponents(components)) ||
        !WriteTextFile(out + L"\\registry-refs.wxi", wxsgen::WixComponentRefs(components)) ||
        !WriteTextFile(out + L"\\TRUV.Vandrel.manifest", wxsgen::AssemblyManifest(a, info))) {
        return Fail("cannot write the output files", HRESULT_FROM_WIN32(::GetLastError()));
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return Fail("cannot start COM");
    int code;
    try {
        code = Generate(argc, argv);
    } catch (...) {
        code = Fail("out of memory");
    }
    ::CoUninitialize();
    return code;
}
