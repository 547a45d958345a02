#include "support/loopback_win32.h"

// <winsock2.h> must come before <windows.h>.
#include "common/win32.h"

#include <winsock2.h>

#include <stdexcept>
#include <thread>

#include "common/files.h"
#include "common/textconv.h"

namespace kelvra::testing {
namespace {

// The program itself never opens a socket, so the tests load Winsock at run
// time instead of linking it.
struct Winsock {
    decltype(&::WSAStartup) startup = nullptr;
    decltype(&::socket) socket = nullptr;
    decltype(&::connect) connect = nullptr;
    decltype(&::bind) bind = nullptr;
    decltype(&::getsockname) getsockname = nullptr;
    decltype(&::closesocket) closesocket = nullptr;

    static const Winsock& Get() {
        static const Winsock winsock = [] {
            Winsock w;
            HMODULE module = LoadLibraryW(L"ws2_32.dll");
            if (!module) throw std::runtime_error("ws2_32.dll not found");
            auto load = [module](auto& fn, const char* name) {
                fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(
                    reinterpret_cast<void*>(GetProcAddress(module, name)));
                if (!fn) throw std::runtime_error(std::string("missing ") + name);
            };
            load(w.startup, "WSAStartup");
            load(w.socket, "socket");
            load(w.connect, "connect");
            load(w.bind, "bind");
            load(w.getsockname, "getsockname");
            load(w.closesocket, "closesocket");
            WSADATA data;
            if (w.startup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup");
            return w;
        }();
        return winsock;
    }
};

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = static_cast<u_short>(((port & 0xFF) << 8) | ((port >> 8) & 0xFF));
    address.sin_addr.s_addr = 0x0100007F;  // 127.0.0.1 in network order
    return address;
}

}  // namespace

Lifeline::Lifeline(int port) : socket_(INVALID_SOCKET) {
    const Winsock& ws = Winsock::Get();
    const SOCKET lifeline = ws.socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in control = Loopback(port);
    if (lifeline == INVALID_SOCKET ||
        ws.connect(lifeline, reinterpret_cast<sockaddr*>(&control), sizeof control) != 0) {
        if (lifeline != INVALID_SOCKET) ws.closesocket(lifeline);
        throw std::runtime_error("cannot connect to the helper's control port");
    }
    socket_ = lifeline;
}

Lifeline::~Lifeline() { Close(); }

void Lifeline::Close() {
    if (socket_ == INVALID_SOCKET) return;
    Winsock::Get().closesocket(static_cast<SOCKET>(socket_));
    socket_ = INVALID_SOCKET;
}

int UnusedLoopbackPort() {
    const Winsock& ws = Winsock::Get();
    const SOCKET probe = ws.socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = Loopback(0);
    int size = sizeof address;
    int port = 0;
    if (ws.bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ws.getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ((address.sin_port & 0xFF) << 8) | ((address.sin_port >> 8) & 0xFF);
    ws.closesocket(probe);
    return port;
}

std::string UnixPath(const std::wstring& windowsPath) {
    using Convert = char*(CDECL*)(const wchar_t*);
    auto convert = reinterpret_cast<Convert>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!convert) throw std::runtime_error("not running under Wine");
    char* unix = convert(windowsPath.c_str());
    if (!unix) throw std::runtime_error("no Unix path for " + WideToAnsi(windowsPath));
    std::string result = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::unique_ptr<Lifeline> StartMountScript(const std::string& script, const std::wstring& arguments,
                                           const std::wstring& stateFile,
                                           std::chrono::seconds limit, std::string& whyNot) {
    std::wstring command = L"python3 \"" + AnsiToWide(script) + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // Wine runs the Unix program in a process of its own and hands back no
    // handles for it; the lifeline connection tells it when to end.
    if (!CreateProcessW(L"Z:\\usr\\bin\\python3", command.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &process)) {
        whyNot = "cannot start python3";
        return nullptr;
    }
    if (process.hThread) CloseHandle(process.hThread);
    if (process.hProcess) CloseHandle(process.hProcess);
    if (!WaitFor([&] { return FileExists(stateFile); }, limit)) {
        whyNot = script.substr(script.find_last_of('/') + 1) + " did not answer";
        return nullptr;
    }
    const std::string answer = ReadFileBytes(stateFile);
    if (!answer.starts_with("mounted ")) {
        whyNot = answer.substr(0, answer.find_first_of("\r\n"));
        return nullptr;
    }
    return std::make_unique<Lifeline>(std::stoi(answer.substr(8)));
}

}  // namespace kelvra::testing
