#include "http/formdata.h"

#include <cstdio>

#include "common/files.h"
#include "common/textconv.h"

namespace kelvra {
namespace {

constexpr char kCrLf[] = "\r\n";

std::string Digits(int value, int width) {
    char text[16];
    const int modulus = width == 3 ? 1000 : 100;
    std::snprintf(text, sizeof text, "%0*d", width, ((value % modulus) + modulus) % modulus);
    return text;
}

}  // namespace

std::string FormBoundary(const LocalTime& t) {
    return "--------" + Digits(t.month, 2) + Digits(t.day, 2) + Digits(t.year, 2) +
           Digits(t.hour, 2) + Digits(t.minute, 2) + Digits(t.second, 2) + Digits(t.millisecond, 3);
}

FormData::FormData() : FormData(NowLocal()) {}

FormData::FormData(const LocalTime& created)
    : created_(FormBoundary(created)), boundary_(created_) {}

void FormData::AddField(std::wstring_view name, std::wstring_view value) {
    Part part;
    part.head = "Content-Disposition: form-data; name=\"" + WideToAnsi(name) + "\"" + kCrLf + kCrLf;
    part.value = WideToAnsi(value);
    parts_.push_back(std::move(part));
}

void FormData::AddFile(std::wstring_view name, std::wstring_view path,
                       std::wstring_view mediaType) {
    Part part;
    part.head = "Content-Disposition: form-data; name=\"" + WideToAnsi(name) + "\"; filename=\"" +
                WideToAnsi(path) + "\"" + kCrLf + "Content-Type: " + WideToAnsi(mediaType) + kCrLf +
                kCrLf;
    part.path = path;
    part.isFile = true;
    parts_.push_back(std::move(part));
}

std::wstring FormData::ContentType() const {
    return L"multipart/form-data; boundary=" + AnsiToWide(boundary_);
}

std::string FormData::Body() const {
    std::vector<std::string> contents;
    contents.reserve(parts_.size());
    for (const Part& part : parts_)
        contents.push_back(part.isFile ? ReadFileBytes(part.path) : part.value);

    // A server cuts the body at every "--" + boundary, so the boundary must
    // occur in no part. The clock's boundary nearly always does not; when a
    // value or a file holds it, digits are added until it no longer occurs.
    auto occurs = [&](const std::string& boundary) {
        const std::string delimiter = "--" + boundary;
        for (std::size_t i = 0; i < parts_.size(); ++i)
            if (parts_[i].head.find(delimiter) != std::string::npos ||
                contents[i].find(delimiter) != std::string::npos)
                return true;
        return false;
    };
    boundary_ = created_;
    for (unsigned long long n = 0; occurs(boundary_); ++n) boundary_ = created_ + std::to_string(n);

    std::string body;
    for (std::size_t i = 0; i < parts_.size(); ++i) {
        body += "--" + boundary_ + kCrLf;
        body += parts_[i].head;
        body += contents[i];
        body += kCrLf;
    }
    body += "--" + boundary_ + "--" + kCrLf;
    return body;
}

}  // namespace kelvra
