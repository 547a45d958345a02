#pragma once
// A ScanConsole that keeps what kvscan's run gives it: the summary's lines,
// the errors and the JSON document of "--json -", for runs in the test's own
// process.

#include <memory>
#include <string>

#include "shell/scan_run.h"

namespace kelvra::testing {

class RecordingConsole : public ScanConsole {
  public:
    void Say(const std::wstring& text) override { said += text; }
    void Error(const std::wstring& text) override { errors += text; }
    std::unique_ptr<ScanJsonSink> StandardOutputJson() override {
        struct Sink : ScanJsonSink {
            explicit Sink(std::string& text) : text(text) {}
            void Write(std::string_view bytes) override { text += bytes; }
            bool Finish() override { return true; }
            std::string& text;
        };
        return std::make_unique<Sink>(json);
    }
    void Progress(const ScanProgress&) override { ++progress; }
    void EndProgress() override {}
    void ServeMessages() override {}
    RunRecorder::MemoryProbe MemoryProbe() override { return nullptr; }
    std::string PeakMemoryLines() override { return "peak 1\n"; }
    std::wstring UtcNow() override { return L"2026-12-07T14:10:45Z"; }

    std::wstring said, errors;
    std::string json;
    int progress = 0;
};

}  // namespace kelvra::testing
