// vandrel-monitor.exe: creates the registered Vandrel control by its ProgID, samples the board
// through it and prints a line per interval, or every cycle (--csv). Ctrl+C (or closing the console) signals
// the stop event; the main thread then stops the control and releases it before the process ends.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/com_ptr.h"
#include "base/inproc_server.h"
#include "base/registry_view.h"
#include "base/unique_handle.h"
#include "client/vandrel_ids.h"
#include "tools/monitor/monitor.h"

namespace {

base::UniqueEvent g_stop;      // set by the console handler
base::UniqueEvent g_finished;  // set once the control is stopped and released

BOOL WINAPI OnConsoleEvent(DWORD type) noexcept {
    ::SetEvent(g_stop.get());
    // The process ends when this handler returns from a close event: give the main thread time to
    // stop the sampler first.
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
        ::WaitForSingleObject(g_finished.get(), 4000);
    }
    return TRUE;
}

void Write(std::FILE* stream, const std::string& text) {
    std::fputs(text.c_str(), stream);
    std::fflush(stream);
}

void WriteLine(std::FILE* stream, const std::string& text) { Write(stream, text + "\n"); }

std::vector<std::wstring> Arguments() {
    std::vector<std::wstring> args;
    int count = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    const base::UniqueLocal owner(argv);
    for (int i = 1; argv && i < count; ++i) args.emplace_back(argv[i]);
    return args;
}

class ComApartment {
public:
    ComApartment() noexcept : hr_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComApartment() {
        if (SUCCEEDED(hr_)) ::CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    [[nodiscard]] HRESULT Result() const noexcept { return hr_; }

private:
    HRESULT hr_;
};

int Monitor(const monitor::Options& options) {
    ComApartment apartment;
    if (FAILED(apartment.Result())) {
        WriteLine(stderr, monitor::DescribeFailure("starting COM", apartment.Result()));
        return monitor::kExitFailed;
    }
    CLSID clsid;
    HRESULT hr = ::CLSIDFromProgID(client::kProgIdVandrel, &clsid);
    base::ComPtr<IDispatch> dispatch;
    if (SUCCEEDED(hr)) {
        hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, dispatch.put_void());
    }
    if (hr == CO_E_CLASSSTRING || hr == REGDB_E_CLASSNOTREG || hr == REGDB_E_READREGDB) {
        // The ProgID key is shared by both registry views; the class key is not.
        const REGSAM other = base::OtherRegistryView();
        if (other != 0 &&
            (SUCCEEDED(::CLSIDFromProgID(client::kProgIdVandrel, &clsid)) ||
             base::ClsidOfProgId(client::kProgIdVandrel, other, &clsid)) &&
            base::RegisteredForOtherBitnessOnly(clsid)) {
            WriteLine(stderr, monitor::WrongBitnessText(base::OwnBitness(), base::OtherBitness()));
            return monitor::kExitFailed;
        }
        WriteLine(stderr,
                  "vandrel-monitor: the Vandrel control is not registered (no class for "
                  "VANDREL.VandrelCtrl.1); register it with: regsvr32 Vandrel.ocx");
        return monitor::kExitFailed;
    }
    if (FAILED(hr)) {
        // Without registration the control is the Vandrel.ocx beside us (the portable folder).
        hr = base::ExplainCreateFailure(clsid, hr, base::BesideProgram(L"Vandrel.ocx"));
        WriteLine(stderr, monitor::DescribeCreateFailure(hr));
        return monitor::kExitFailed;
    }
    monitor::Control control;
    hr = control.Bind(dispatch.get());
    if (FAILED(hr)) {
        WriteLine(stderr,
                  monitor::DescribeFailure("finding the Vandrel members (Interval, Address, ChannelNumber, "
                                           "GetChnlValue, Start, Stop, Status, ReadCycles)",
                                           hr));
        return monitor::kExitFailed;
    }
    // The table's headings go out in the console's code page, which it shows them in; a file that
    // stdout is redirected to gets the same bytes.
    const UINT console = ::GetConsoleOutputCP();
    return monitor::Run(
        control, options, g_stop.get(), [](const std::string& s) { Write(stdout, s); },
        [](const std::string& s) { WriteLine(stderr, s); }, monitor::Zone(), console != 0 ? console : CP_ACP);
}

}  // namespace

int main() {
    monitor::Options options;
    std::string error;
    if (!monitor::ParseArguments(Arguments(), &options, &error)) {
        WriteLine(stderr, "vandrel-monitor: " + error + " (see --help)");
        return monitor::kExitUsage;
    }
    if (options.help) {
        Write(stdout, monitor::UsageText());
        return monitor::kExitOk;
    }
    g_stop.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_finished.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!g_stop || !g_finished) {
        WriteLine(stderr, "vandrel-monitor: cannot create an event");
        return monitor::kExitFailed;
    }
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    const int result = Monitor(options);
    ::SetEvent(g_finished.get());
    return result;
}
