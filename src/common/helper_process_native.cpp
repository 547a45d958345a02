// The native build starts no processes: its helper answers in the process
// itself, so that the portable code that asks it runs the same on a
// development machine. Nothing here can fault or hang on its own.

#include "common/helper_process.h"

#include <utility>

namespace kelvra {

struct HelperProcess::Running {};

HelperProcess::HelperProcess(HelperService inProcess) : inProcess_(std::move(inProcess)) {}
HelperProcess::~HelperProcess() = default;

HelperReply HelperProcess::Ask(std::string_view request, std::chrono::milliseconds) {
    if (!inProcess_) return {HelperOutcome::Unavailable, {}};
    if (!running_) {
        running_ = std::make_unique<Running>();
        ++starts_;
    }
    return {HelperOutcome::Answered, inProcess_(request)};
}

int ServeHelperRequests(const HelperService&) { return 2; }

}  // namespace kelvra
