#include "versions/file_helper.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <functional>
#include <map>
#include <set>
#include <thread>

#include "common/run_timings.h"
#include "common/textutil.h"
#include "common/tools.h"
#include "versions/directversion.h"
#include "versions/versionblock.h"

namespace kelvra {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// ---- requests and answers ------------------------------------------------------------
//
// A request: one byte of kind, then the path in UTF-16, little-endian. The
// answers are laid out by the Put and Take calls below, numbers
// little-endian; the parent reads them with Take only, which checks every
// length against what arrived.

enum class Request : std::uint8_t {
    SystemVersionBlock = 1,  // the system's reader on the file
    VersionBlock = 2,        // the whole read, straight or by the system, on a slow volume
    Listing = 3,             // FindEntries of a mask
    Facts = 4,               // what the file or folder is
};

enum class FactsKind : std::uint8_t { None = 0, File = 1, Directory = 2 };

void PutNumber(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void PutText(std::string& out, std::wstring_view text) {
    for (const wchar_t unit : text) PutNumber(out, static_cast<std::uint16_t>(unit), 2);
}

// Reads an answer front to back; once anything is missing, every later
// read gives zeros and ok() says false.
class Take {
  public:
    explicit Take(std::string_view bytes) : bytes_(bytes) {}

    std::uint64_t Number(int count) {
        if (!Has(static_cast<std::size_t>(count))) return 0;
        std::uint64_t value = 0;
        for (int i = count - 1; i >= 0; --i)
            value = (value << 8) |
                    static_cast<unsigned char>(bytes_[at_ + static_cast<std::size_t>(i)]);
        at_ += static_cast<std::size_t>(count);
        return value;
    }
    std::wstring Text(std::size_t units) {
        std::wstring text;
        if (units > (bytes_.size() - at_) / 2) {
            ok_ = false;
            return text;
        }
        text.reserve(units);
        for (std::size_t i = 0; i < units; ++i) text.push_back(static_cast<wchar_t>(Number(2)));
        return text;
    }
    std::string_view Rest() {
        const std::string_view rest = bytes_.substr(at_);
        at_ = bytes_.size();
        return rest;
    }
    bool ok() const { return ok_; }
    bool atEnd() const { return at_ == bytes_.size(); }

  private:
    bool Has(std::size_t count) {
        if (!ok_ || bytes_.size() - at_ < count) ok_ = false;
        return ok_;
    }
    std::string_view bytes_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

std::string MakeRequest(Request kind, std::wstring_view path) {
    std::string request(1, static_cast<char>(kind));
    PutText(request, path);
    return request;
}

void PutFacts(std::string& out, const FileFacts& facts) {
    PutNumber(out, facts.size, 8);
    PutNumber(out, static_cast<std::uint64_t>(facts.lastWriteTime), 8);
    PutNumber(out, static_cast<std::uint64_t>(facts.creationTime), 8);
}

FileFacts TakeFacts(Take& take) {
    FileFacts facts;
    facts.size = take.Number(8);
    facts.lastWriteTime = static_cast<std::int64_t>(take.Number(8));
    facts.creationTime = static_cast<std::int64_t>(take.Number(8));
    return facts;
}

}  // namespace

std::string helper_answers::OfBlock(const FetchedVersionBlock& block) {
    std::string out;
    PutNumber(out, block.present, 1);
    PutNumber(out, block.settled, 1);
    PutNumber(out, block.reportedSize, 4);
    out.append(reinterpret_cast<const char*>(block.bytes.data()), block.bytes.size());
    return out;
}

std::optional<FetchedVersionBlock> helper_answers::BlockOf(std::string_view answer) {
    Take take(answer);
    FetchedVersionBlock block;
    block.present = take.Number(1) != 0;
    block.settled = take.Number(1) != 0;
    block.reportedSize = static_cast<std::uint32_t>(take.Number(4));
    const std::string_view bytes = take.Rest();
    if (!take.ok() || bytes.size() > kMaxVersionBufferSize || (!block.present && !bytes.empty()))
        return std::nullopt;
    block.bytes.resize(bytes.size());
    if (!bytes.empty()) std::memcpy(block.bytes.data(), bytes.data(), bytes.size());
    return block;
}

std::string helper_answers::OfListing(const std::vector<DirEntry>& entries) {
    std::string out;
    PutNumber(out, entries.size(), 4);
    for (const DirEntry& entry : entries) {
        PutNumber(out, entry.isDirectory, 1);
        PutFacts(out, entry.facts());
        PutNumber(out, entry.name.size(), 4);
        PutText(out, entry.name);
    }
    return out;
}

std::optional<std::vector<DirEntry>> helper_answers::ListingOf(std::string_view answer) {
    Take take(answer);
    const std::uint64_t count = take.Number(4);
    std::vector<DirEntry> entries;
    for (std::uint64_t i = 0; i < count && take.ok(); ++i) {
        DirEntry entry;
        entry.isDirectory = take.Number(1) != 0;
        const FileFacts facts = TakeFacts(take);
        entry.size = facts.size;
        entry.lastWriteTime = facts.lastWriteTime;
        entry.creationTime = facts.creationTime;
        entry.name = take.Text(static_cast<std::size_t>(take.Number(4)));
        entries.push_back(std::move(entry));
    }
    if (!take.ok() || !take.atEnd()) return std::nullopt;
    return entries;
}

namespace {

std::string FactsAnswer(const std::wstring& path) {
    std::string out;
    if (const std::optional<FileFacts> facts = FileFactsOf(path)) {
        PutNumber(out, static_cast<std::uint8_t>(FactsKind::File), 1);
        PutFacts(out, *facts);
    } else {
        const bool folder = DirectoryExists(path);
        PutNumber(out, static_cast<std::uint8_t>(folder ? FactsKind::Directory : FactsKind::None),
                  1);
        PutFacts(out, {});
    }
    return out;
}

struct PathFacts {
    FactsKind kind = FactsKind::None;
    FileFacts facts;
};

std::optional<PathFacts> ReadFactsAnswer(std::string_view answer) {
    Take take(answer);
    PathFacts read;
    const std::uint64_t kind = take.Number(1);
    read.facts = TakeFacts(take);
    if (!take.ok() || !take.atEnd() || kind > static_cast<std::uint8_t>(FactsKind::Directory))
        return std::nullopt;
    read.kind = static_cast<FactsKind>(kind);
    return read;
}

// ---- the read on this side of the pipe ------------------------------------------------

// The version block as far as the file's own bytes decide it; systemRead
// when only the system's reader can.
FetchedVersionBlock FetchHere(const std::wstring& path,
                              const std::function<FetchedVersionBlock()>& systemRead) {
    if (!DirectVersionReads()) return systemRead();
    DirectVersionRead direct = ReadVersionBlockDirect(path);
    FetchedVersionBlock block;
    if (!direct.opened) {
        block.settled = false;
        return block;
    }
    if (!direct.block.empty()) {
        block.present = true;
        block.reportedSize = static_cast<std::uint32_t>(direct.block.size());
        block.bytes = std::move(direct.block);
        return block;
    }
    if (direct.systemDecides) return systemRead();
    return block;
}

// ---- the run's helper and budgets --------------------------------------------------------

std::wstring LowerVolume(std::wstring volume) { return LowerAscii(volume); }

// The volume of a path, by which one that does not answer is remembered:
// "x:" for a drive, "\\host\share" for a UNC path; empty for anything else.
std::wstring VolumeOf(std::wstring_view path) {
    if (path.size() >= 2 && path[1] == L':') return LowerVolume(std::wstring(path.substr(0, 2)));
    if (path.starts_with(L"\\\\")) {
        std::size_t end = 2;
        for (int separators = 0; end < path.size(); ++end)
            if (path[end] == L'\\' && ++separators == 2) break;
        return LowerVolume(std::wstring(path.substr(0, end)));
    }
    return {};
}

FileHelperRun* activeRun = nullptr;

}  // namespace

struct FileHelperRun::State {
    HelperProcess helper{AnswerFileRequest};
    FileHelperCounts counts;
    std::set<std::wstring> silentVolumes;  // did not answer in time
    std::map<wchar_t, bool> drivesThatMayBlock;
    milliseconds runWaited{0};
    milliseconds entryWaited{0};
};

namespace {

// The run's state, or that of a run made for the one question.
FileHelperRun::State& ActiveState(std::unique_ptr<FileHelperRun>& temporary) {
    if (!activeRun) temporary = std::make_unique<FileHelperRun>();
    return activeRun->state();
}

// One question, with the budgets kept. volume: non-empty for a call on a
// volume that may block, which is not asked once it has not answered in time.
struct Asked {
    HelperReply reply;
    bool reached = true;
};

Asked AskHelper(Request kind, const std::wstring& path, milliseconds bound,
                const std::wstring& volume) {
    std::unique_ptr<FileHelperRun> temporary;
    FileHelperRun::State& state = ActiveState(temporary);
    Asked asked;
    const milliseconds runLeft = kRunBudget - state.runWaited;
    const milliseconds entryLeft = kEntryBudget - state.entryWaited;
    if (!volume.empty()) {
        if (state.silentVolumes.contains(volume) || runLeft <= milliseconds{0} ||
            entryLeft <= milliseconds{0}) {
            asked.reached = false;
            return asked;
        }
        bound = std::min({bound, runLeft, entryLeft});
    } else if (runLeft <= milliseconds{0}) {
        asked.reply.outcome = HelperOutcome::Unavailable;
        return asked;
    } else {
        bound = std::min(bound, runLeft);
    }
    const auto started = Clock::now();
    ++state.counts.questions;
    CountInRun(RunCount::HelperQuestions);
    const int startsBefore = state.helper.starts();
    asked.reply = state.helper.Ask(MakeRequest(kind, path), bound);
    if (state.helper.starts() > startsBefore) {
        ++state.counts.starts;
        CountInRun(RunCount::HelperStarts);
    }
    const auto waited = std::chrono::duration_cast<milliseconds>(Clock::now() - started);
    const bool timedOut = asked.reply.outcome == HelperOutcome::TimedOut;
    if (!volume.empty() || timedOut) {
        state.runWaited += waited;
        state.entryWaited += waited;
    }
    if (timedOut) {
        ++state.counts.timeOuts;
        if (!volume.empty()) {
            state.silentVolumes.insert(volume);
            asked.reached = false;
            WriteLogFmt(L"Volume [%s] did not answer in time; not asked again in this run",
                        {volume});
        }
    }
    if (asked.reply.outcome == HelperOutcome::Faulted) ++state.counts.faults;
    return asked;
}

const wchar_t* FailureText(VersionReadFailure failure) {
    switch (failure) {
        case VersionReadFailure::Faulted: return L"the system's reader crashed";
        case VersionReadFailure::TimedOut: return L"the system's reader did not answer in time";
        case VersionReadFailure::NoHelper: return L"no helper process to read it";
        default: return L"its volume did not answer in time";
    }
}

FetchedVersionBlock AskForBlock(Request kind, const std::wstring& path, milliseconds bound,
                                const std::wstring& volume) {
    const Asked asked = AskHelper(kind, path, bound, volume);
    FetchedVersionBlock block;
    block.settled = false;
    if (!asked.reached) {
        block.failure = VersionReadFailure::Unreachable;
    } else if (asked.reply.outcome == HelperOutcome::Answered) {
        if (std::optional<FetchedVersionBlock> answered =
                helper_answers::BlockOf(asked.reply.bytes))
            return std::move(*answered);
        block.failure = VersionReadFailure::Faulted;
    } else {
        block.failure =
            asked.reply.outcome == HelperOutcome::TimedOut  ? VersionReadFailure::TimedOut
            : asked.reply.outcome == HelperOutcome::Faulted ? VersionReadFailure::Faulted
                                                            : VersionReadFailure::NoHelper;
    }
    WriteLogFmt(L"No version read from [%s]: %s", {path, FailureText(block.failure)});
    return block;
}

bool DriveMayBlock(wchar_t letter) {
    if (!activeRun) return DriveMayBlockLong(letter);
    auto& known = activeRun->state().drivesThatMayBlock;
    const wchar_t key = static_cast<wchar_t>(letter | 0x20);
    const auto found = known.find(key);
    if (found != known.end()) return found->second;
    return known[key] = DriveMayBlockLong(letter);
}

template <typename T>
InTime<T> Unreached() {
    return InTime<T>{T{}, false};
}

}  // namespace

// ---- the run ---------------------------------------------------------------------------------

FileHelperRun::FileHelperRun() : state_(std::make_unique<State>()), previous_(activeRun) {
    activeRun = this;
}

FileHelperRun::~FileHelperRun() {
    activeRun = previous_;
    const FileHelperCounts& counts = state_->counts;
    if (counts.questions > 0)
        WriteLog(L"Helper process: " + std::to_wstring(counts.questions) + L" questions, " +
                 std::to_wstring(counts.starts) + L" started, " + std::to_wstring(counts.faults) +
                 L" ended on a file, " + std::to_wstring(counts.timeOuts) + L" timed out");
}

FileHelperCounts FileHelperRun::counts() const { return state_->counts; }

// ---- the public calls ------------------------------------------------------------------------

bool PathMayBlockLong(std::wstring_view path) {
    if (path.starts_with(L"\\\\")) return true;
    if (path.size() >= 2 && path[1] == L':' && std::iswalpha(path[0]))
        return DriveMayBlock(path[0]);
    return false;
}

FetchedVersionBlock FetchVersionBlock(const std::wstring& path) {
    if (PathMayBlockLong(path))
        return AskForBlock(Request::VersionBlock, path, kSlowCallBound, VolumeOf(path));
    return FetchHere(
        path, [&] { return AskForBlock(Request::SystemVersionBlock, path, kSystemReadBound, {}); });
}

InTime<std::vector<DirEntry>> FindEntriesInTime(const std::wstring& mask) {
    if (!PathMayBlockLong(mask)) return {FindEntries(mask)};
    const Asked asked = AskHelper(Request::Listing, mask, kSlowCallBound, VolumeOf(mask));
    if (!asked.reached || asked.reply.outcome != HelperOutcome::Answered)
        return Unreached<std::vector<DirEntry>>();
    std::optional<std::vector<DirEntry>> entries = helper_answers::ListingOf(asked.reply.bytes);
    if (!entries) return Unreached<std::vector<DirEntry>>();
    return {std::move(*entries)};
}

namespace {

InTime<PathFacts> FactsInTime(const std::wstring& path) {
    const Asked asked = AskHelper(Request::Facts, path, kSlowCallBound, VolumeOf(path));
    if (!asked.reached || asked.reply.outcome != HelperOutcome::Answered)
        return Unreached<PathFacts>();
    const std::optional<PathFacts> facts = ReadFactsAnswer(asked.reply.bytes);
    if (!facts) return Unreached<PathFacts>();
    return {*facts};
}

}  // namespace

InTime<bool> DirectoryExistsInTime(const std::wstring& path) {
    if (!PathMayBlockLong(path)) return {DirectoryExists(path)};
    const InTime<PathFacts> facts = FactsInTime(path);
    return {facts.value.kind == FactsKind::Directory, facts.reached};
}

InTime<std::optional<FileFacts>> FileFactsInTime(const std::wstring& path) {
    if (!PathMayBlockLong(path)) return {FileFactsOf(path)};
    const InTime<PathFacts> facts = FactsInTime(path);
    if (!facts.reached) return Unreached<std::optional<FileFacts>>();
    if (facts.value.kind != FactsKind::File) return {std::nullopt};
    return {facts.value.facts};
}

void BeginEntryFileWork() {
    if (activeRun) activeRun->state().entryWaited = milliseconds{0};
}

std::chrono::milliseconds EntryFileWorkWaited() {
    return activeRun ? activeRun->state().entryWaited : milliseconds{0};
}

// ---- the helper's side --------------------------------------------------------------------------

namespace {

// A test hook: "hang:NAME" or "exit:NAME" in KELVRA_TEST_HELPER_TROUBLE makes
// the helper hang, or end as if killed, on any path that contains NAME, so
// that the tests can see a run survive both without a file that does it.
void TroubleForTests(std::wstring_view path) {
    const char* trouble = std::getenv("KELVRA_TEST_HELPER_TROUBLE");
    if (!trouble) return;
    const std::string_view what(trouble);
    if (what.size() < 6) return;
    const std::string_view name = what.substr(5);
    const std::wstring wide(name.begin(), name.end());
    if (path.find(wide) == std::wstring_view::npos) return;
    if (what.starts_with("hang:"))
        for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
    if (what.starts_with("exit:")) std::_Exit(9);
}

}  // namespace

std::string AnswerFileRequest(std::string_view request) {
    if (request.empty() || request.size() % 2 != 1) return {};
    Take take(request.substr(1));
    const std::wstring path = take.Text((request.size() - 1) / 2);
    TroubleForTests(path);
    switch (static_cast<Request>(request[0])) {
        case Request::SystemVersionBlock:
            return helper_answers::OfBlock(version_platform::SystemVersionBlock(path));
        case Request::VersionBlock:
            return helper_answers::OfBlock(
                FetchHere(path, [&] { return version_platform::SystemVersionBlock(path); }));
        case Request::Listing: return helper_answers::OfListing(FindEntries(path));
        case Request::Facts: return FactsAnswer(path);
    }
    return {};
}

}  // namespace kelvra
