// vandrel-wxsgen.exe --arch x86|x64 --ocx PATH --out DIR
// Writes DIR\registry.wxi, DIR\registry-refs.wxi and DIR\TRUV.Vandrel.manifest for the package of
// one bitness from that bitness's Vandrel.ocx (read as data). Exit status 0, or 1 with a message.
#include <windows.h>
#include <ole2.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "control/wxsgen/wxsgen.h"

namespace {

int Fail(const char* what, HRESULT hr = S_OK) {
    std::fprintf(stderr, "vandrel-wxsgen: %s (0x%08lX)\n", what, static_cast<unsigned long>(hr));
    return 1;
}

bool WriteFile(const std::wstring& path, const std::string& text) {
    std::FILE* f = ::_wfopen(path.c_str(), L"wb");
    if (!f) return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
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
    if (!WriteFile(out + L"\\registry.wxi", wxsgen::WixComponents(components)) ||
        !WriteFile(out + L"\\registry-refs.wxi", wxsgen::WixComponentRefs(components)) ||
        !WriteFile(out + L"\\TRUV.Vandrel.manifest", wxsgen::AssemblyManifest(a, info))) {
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
