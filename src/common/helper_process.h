#pragma once
// The helper process: a second copy of the program's own executable, started
// with kHelperArgument, that answers one request after another over a pipe.
// Work that may crash or hang on a file the program does not control (the
// system's version reader, calls on a network folder that no longer
// answers) happens there, so that a fault or a hang ends only the helper.
//
// The parent waits for each answer with a bound, serving pending window
// messages meanwhile, and ends the helper when the bound passes; the next
// request starts a new one. No thread is involved on either side.
//
// Frames on the pipe, both ways: a 32-bit little-endian length, then that
// many bytes. What the bytes mean is the caller's business; the parent reads
// an answer only as far as its length, which it checks against a limit.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kelvra {

// The argument that starts the executable as a helper.
inline constexpr std::wstring_view kHelperArgument = L"--file-helper";

// The largest frame either side accepts: a listing of a folder of tens of
// thousands of files fits, a block of 1 MiB does too.
inline constexpr std::size_t kMaxHelperFrame = 32u << 20;

// How one question to the helper ended.
enum class HelperOutcome {
    Answered,     // the answer is in bytes
    Faulted,      // the helper ended (a crash, a kill) or broke the frame rules
    TimedOut,     // no answer within the bound: the helper was ended
    Unavailable,  // no helper could be started
};

struct HelperReply {
    HelperOutcome outcome = HelperOutcome::Unavailable;
    std::string bytes;
};

// The answering side: given a request's bytes, the answer's.
using HelperService = std::function<std::string(std::string_view request)>;

class HelperProcess {
  public:
    // inProcess answers instead of a process where the platform has none to
    // start (the native build), so that the portable code above runs the same.
    explicit HelperProcess(HelperService inProcess);
    ~HelperProcess();
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    // Sends the request and waits at most bound for the answer. A helper is
    // started when none runs; after a fault or a time-out the next question
    // starts a new one.
    HelperReply Ask(std::string_view request, std::chrono::milliseconds bound);

    // How many helpers were started so far.
    int starts() const noexcept { return starts_; }

  private:
    struct Running;
    HelperService inProcess_;
    std::unique_ptr<Running> running_;
    int starts_ = 0;
};

// The helper's side: answers requests from its standard input on its
// standard output until the pipe closes; returns the process's exit code.
// Faults end the process at once, without a box.
int ServeHelperRequests(const HelperService& service);

// The executable started as the helper: the program's own unless a test
// program names another that serves the same requests. Empty restores the
// program's own. Returns the one named before.
std::wstring SetHelperProgram(std::wstring path);
// The one named by SetHelperProgram; empty for the program's own.
std::wstring HelperProgramNamed();

// ---- frames (portable, tested natively) ------------------------------------

// The frame of the payload: its length, then its bytes.
std::string Frame(std::string_view payload);

// The length a frame header announces, when it is within kMaxHelperFrame.
std::optional<std::size_t> FrameLength(std::string_view header);

}  // namespace kelvra
