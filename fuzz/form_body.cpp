// The multipart form body of a post, split back the way a server splits it.
//
// Input: field 0 sets the clock the boundary is made from; every further
// field is one part: a byte whose lowest bit chooses a text field (0) or a
// file part (1), a byte that picks the part's name, then the value or the
// file's bytes.

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/files.h"
#include "common/textconv.h"
#include "fuzz_support.h"
#include "http/formdata.h"

using namespace kelvra;
using namespace kelvra::fuzz;

namespace {

constexpr const wchar_t* kNames[] = {L"username", L"password", L"profile", L"apps"};

// A folder of this process for the file parts, gone when the process ends.
const std::string& Folder() {
    static const std::string folder = [] {
        std::string name = std::filesystem::temp_directory_path() / "kelvra-fuzz-form-XXXXXX";
        if (!mkdtemp(name.data())) std::abort();
        return name;
    }();
    static const bool cleanup = [] {
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        });
        return true;
    }();
    (void)cleanup;
    return folder;
}

struct Expected {
    std::string name;
    bool isFile;
    std::string path;
    std::string content;
};

// The parts a server finds: the body is cut at every CR LF "--" boundary
// (the first delimiter needs no CR LF before it), and ends with the
// delimiter followed by "--".
void CheckSplit(const std::string& body, const std::string& boundary,
                const std::vector<Expected>& parts) {
    const std::string delimiter = "\r\n--" + boundary;
    const std::string text = "\r\n" + body;
    std::vector<std::string> pieces;
    std::size_t pos = text.find(delimiter);
    Require(pos == 0, "the body does not begin with the boundary");
    for (;;) {
        const std::size_t start = pos + delimiter.size();
        const std::size_t next = text.find(delimiter, start);
        pieces.push_back(
            text.substr(start, next == std::string::npos ? std::string::npos : next - start));
        if (next == std::string::npos) break;
        pos = next;
    }
    Require(pieces.size() == parts.size() + 1, "the body splits into another number of parts",
            std::to_string(pieces.size() - 1) + " instead of " + std::to_string(parts.size()));
    Require(pieces.back() == "--\r\n", "the body does not end with the closing delimiter");
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::string& piece = pieces[i];
        const std::size_t headEnd = piece.find("\r\n\r\n");
        Require(piece.starts_with("\r\n") && headEnd != std::string::npos,
                "a part without its head");
        const std::string head = piece.substr(2, headEnd - 2);
        std::string wanted = "Content-Disposition: form-data; name=\"" + parts[i].name + "\"";
        if (parts[i].isFile)
            wanted += "; filename=\"" + parts[i].path + "\"\r\nContent-Type: text/plain";
        Require(head == wanted, "a part's head is not the one written", head);
        Require(piece.substr(headEnd + 4) == parts[i].content,
                "a part's content is not what went in");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto fields = SplitFields(data, size);
    const std::string_view clock = fields[0];
    auto clockByte = [&](std::size_t i) {
        return i < clock.size() ? static_cast<unsigned char>(clock[i]) : 0;
    };
    const LocalTime created{2000 + clockByte(0) % 100, 1 + clockByte(1) % 12, 1 + clockByte(2) % 28,
                            clockByte(3) % 24,         clockByte(4) % 60,     clockByte(5) % 60,
                            (clockByte(6) * 4) % 1000};
    FormData form(created);
    std::vector<Expected> parts;
    for (std::size_t f = 1; f < fields.size() && f <= 16; ++f) {
        if (fields[f].size() < 2) continue;
        const bool isFile = (fields[f][0] & 1) != 0;
        const std::wstring name = kNames[static_cast<unsigned char>(fields[f][1]) % 4];
        const std::string_view rest = fields[f].substr(2);
        if (isFile) {
            const std::string path = Folder() + "/part" + std::to_string(parts.size()) + ".txt";
            const std::wstring widePath(path.begin(), path.end());
            WriteFileBytes(widePath, rest);
            form.AddFile(name, widePath, L"text/plain");
            parts.push_back({WideToAnsi(name), true, path, std::string(rest)});
        } else {
            const std::wstring value = WideFromBytes(rest);
            form.AddField(name, value);
            parts.push_back({WideToAnsi(name), false, {}, WideToAnsi(value)});
        }
    }

    const std::string body = form.Body();
    const std::wstring contentType = form.ContentType();
    const std::wstring prefix = L"multipart/form-data; boundary=";
    Require(contentType.starts_with(prefix), "the content type is not multipart/form-data");
    const std::string boundary = WideToAnsi(contentType.substr(prefix.size()));
    Require(boundary == form.Boundary(), "the content type names another boundary");
    Require(boundary.size() >= 23 && boundary.size() <= 70 && boundary.starts_with("--------"),
            "the boundary is not eight hyphens and digits of at most 70 characters", boundary);
    CheckSplit(body, boundary, parts);
    return 0;
}
