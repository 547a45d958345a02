// The helper process on Windows: the program's own executable, started
// suspended with nothing inherited but its end of a named pipe, put in a job
// that ends it with its parent, then resumed. The parent's end is
// overlapped, so that waiting for an answer can also wait for window
// messages and for the helper's end, and can give up at a deadline.

#include "common/win32.h"

#include "common/helper_process.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include "common/handles_win32.h"
#include "common/paths.h"
#include "common/pending_messages.h"

namespace kelvra {
namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kPipeBuffer = 64 * 1024;
constexpr UINT kFaultExitCode = 77;

std::wstring UniquePipeName() {
    static std::atomic<unsigned> counter{0};
    return L"\\\\.\\pipe\\kelvra-helper-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(++counter);
}

// A job that ends its processes when its last handle closes, that is with
// the parent however it ends. A parent that already sits in a job that
// allows no nesting (Windows 7) keeps its helper without one: the helper
// still ends when its pipe breaks.
UniqueHandle MakeHelperJob() {
    UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    if (!job) return job;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
    if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits))
        job.reset();
    return job;
}

// The attribute list that lets the child inherit exactly one handle, where
// the system has it; elsewhere the one handle is the only inheritable one
// the program makes.
class InheritOnly {
  public:
    explicit InheritOnly(HANDLE handle) : handle_(handle) {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        storage_.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
        if (size == 0 || !InitializeProcThreadAttributeList(list, 1, 0, &size)) return;
        initialized_ = true;
        if (UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &handle_,
                                      sizeof handle_, nullptr, nullptr))
            list_ = list;
    }
    ~InheritOnly() {
        if (initialized_)
            DeleteProcThreadAttributeList(
                reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data()));
    }
    InheritOnly(const InheritOnly&) = delete;
    InheritOnly& operator=(const InheritOnly&) = delete;

    LPPROC_THREAD_ATTRIBUTE_LIST list() const { return list_; }

  private:
    HANDLE handle_;
    std::string storage_;
    bool initialized_ = false;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

std::wstring HelperProgram() {
    std::wstring named = HelperProgramNamed();
    return named.empty() ? OwnExecutablePath() : named;
}

}  // namespace

struct HelperProcess::Running {
    UniqueHandle job;
    UniqueHandle process;
    UniqueHandle pipe;   // the parent's end, overlapped
    UniqueHandle event;  // signalled when an overlapped operation completes

    static std::unique_ptr<Running> Start();
    ~Running() {
        // Ended at once and not waited for: a helper stuck in a call on a
        // network folder may take its time to go.
        if (process) TerminateProcess(process.get(), kFaultExitCode);
    }

    enum class Io { Done, Ended, TimedOut };
    Io Transfer(bool write, char* data, DWORD size, Clock::time_point deadline);
    Io WaitFor(OVERLAPPED& overlapped, Clock::time_point deadline, DWORD& transferred);
};

std::unique_ptr<HelperProcess::Running> HelperProcess::Running::Start() {
    const std::wstring name = UniquePipeName();
    auto running = std::make_unique<Running>();
    running->pipe = MakeUniqueFileHandle(CreateNamedPipeW(
        name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
        kPipeBuffer, kPipeBuffer, 0, nullptr));
    running->event.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!running->pipe || !running->event) return nullptr;
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    const UniqueHandle child = MakeUniqueFileHandle(CreateFileW(
        name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, &inheritable, OPEN_EXISTING, 0, nullptr));
    if (!child) return nullptr;

    const InheritOnly inherit(child.get());
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = child.get();
    startup.StartupInfo.hStdOutput = child.get();
    startup.lpAttributeList = inherit.list();
    const std::wstring program = HelperProgram();
    std::wstring command = L"\"" + program + L"\" " + std::wstring(kHelperArgument);
    DWORD flags = CREATE_SUSPENDED | CREATE_NO_WINDOW;
    if (inherit.list()) flags |= EXTENDED_STARTUPINFO_PRESENT;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, TRUE, flags, nullptr,
                        nullptr, &startup.StartupInfo, &started))
        return nullptr;
    running->process.reset(started.hProcess);
    const UniqueHandle thread(started.hThread);
    running->job = MakeHelperJob();
    if (running->job && !AssignProcessToJobObject(running->job.get(), started.hProcess))
        running->job.reset();
    if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) return nullptr;
    return running;
}

HelperProcess::Running::Io HelperProcess::Running::WaitFor(OVERLAPPED& overlapped,
                                                           Clock::time_point deadline,
                                                           DWORD& transferred) {
    const HANDLE handles[] = {event.get(), process.get()};
    for (;;) {
        const auto now = Clock::now();
        if (now >= deadline) {
            CancelIoEx(pipe.get(), &overlapped);
            GetOverlappedResult(pipe.get(), &overlapped, &transferred, TRUE);
            return Io::TimedOut;
        }
        // Short slices, so that the pending messages are served on time
        // even where no message wakes the wait (a console program's pump).
        const auto slice = std::min<Clock::duration>(deadline - now, kPendingMessagesDueAfter);
        const auto sliceMs =
            static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(slice).count());
        const bool pump = PendingMessagePumpInstalled();
        const DWORD woke = pump ? MsgWaitForMultipleObjects(2, handles, FALSE, sliceMs, QS_ALLINPUT)
                                : WaitForMultipleObjects(2, handles, FALSE, sliceMs);
        if (woke == WAIT_OBJECT_0) {
            if (GetOverlappedResult(pipe.get(), &overlapped, &transferred, FALSE)) return Io::Done;
            return Io::Ended;
        }
        if (woke == WAIT_OBJECT_0 + 1 || woke == WAIT_FAILED) {
            // The helper is gone; what it wrote before it went is still read.
            if (GetOverlappedResult(pipe.get(), &overlapped, &transferred, FALSE)) return Io::Done;
            CancelIoEx(pipe.get(), &overlapped);
            GetOverlappedResult(pipe.get(), &overlapped, &transferred, TRUE);
            return Io::Ended;
        }
        if (woke == WAIT_OBJECT_0 + 2)
            PumpPendingMessages();
        else
            PumpPendingMessagesIfDue();
    }
}

HelperProcess::Running::Io HelperProcess::Running::Transfer(bool write, char* data, DWORD size,
                                                            Clock::time_point deadline) {
    while (size > 0) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = event.get();
        ResetEvent(event.get());
        const BOOL done = write ? WriteFile(pipe.get(), data, size, nullptr, &overlapped)
                                : ReadFile(pipe.get(), data, size, nullptr, &overlapped);
        if (!done && GetLastError() != ERROR_IO_PENDING) return Io::Ended;
        DWORD transferred = 0;
        const Io io = WaitFor(overlapped, deadline, transferred);
        if (io != Io::Done) return io;
        if (transferred == 0) return Io::Ended;
        data += transferred;
        size -= transferred;
    }
    return Io::Done;
}

HelperProcess::HelperProcess(HelperService inProcess) : inProcess_(std::move(inProcess)) {}
HelperProcess::~HelperProcess() = default;

HelperReply HelperProcess::Ask(std::string_view request, std::chrono::milliseconds bound) {
    const auto deadline = Clock::now() + bound;
    if (!running_) {
        running_ = Running::Start();
        if (!running_) return {HelperOutcome::Unavailable, {}};
        ++starts_;
    }
    const auto give_up = [&](Running::Io io) {
        running_.reset();
        return HelperReply{
            io == Running::Io::TimedOut ? HelperOutcome::TimedOut : HelperOutcome::Faulted, {}};
    };
    std::string frame = Frame(request);
    if (const auto io =
            running_->Transfer(true, frame.data(), static_cast<DWORD>(frame.size()), deadline);
        io != Running::Io::Done)
        return give_up(io);
    std::string header(4, '\0');
    if (const auto io = running_->Transfer(false, header.data(), 4, deadline);
        io != Running::Io::Done)
        return give_up(io);
    const std::optional<std::size_t> length = FrameLength(header);
    if (!length) return give_up(Running::Io::Ended);
    std::string answer(*length, '\0');
    if (const auto io =
            running_->Transfer(false, answer.data(), static_cast<DWORD>(answer.size()), deadline);
        io != Running::Io::Done)
        return give_up(io);
    return {HelperOutcome::Answered, std::move(answer)};
}

// ---- the helper's side ---------------------------------------------------------

namespace {

LONG WINAPI EndOnFault(EXCEPTION_POINTERS*) {
    TerminateProcess(GetCurrentProcess(), kFaultExitCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

bool ReadExactly(HANDLE input, char* data, std::size_t size) {
    while (size > 0) {
        DWORD got = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 20));
        if (!ReadFile(input, data, chunk, &got, nullptr) || got == 0) return false;
        data += got;
        size -= got;
    }
    return true;
}

bool WriteExactly(HANDLE output, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
        if (!WriteFile(output, bytes.data(), chunk, &written, nullptr) || written == 0)
            return false;
        bytes.remove_prefix(written);
    }
    return true;
}

}  // namespace

int ServeHelperRequests(const HelperService& service) {
    // No box for a fault, a missing disk or a file that cannot be opened:
    // the parent sees the pipe break and goes on.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(EndOnFault);
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    for (;;) {
        std::string header(4, '\0');
        if (!ReadExactly(input, header.data(), header.size())) return 0;
        const std::optional<std::size_t> length = FrameLength(header);
        if (!length) return 3;
        std::string request(*length, '\0');
        if (!ReadExactly(input, request.data(), request.size())) return 0;
        std::string answer;
        try {
            answer = service(request);
        } catch (...) {
            return 4;  // the parent counts it as a fault, and starts a new helper
        }
        if (!WriteExactly(output, Frame(answer))) return 0;
    }
}

}  // namespace kelvra
