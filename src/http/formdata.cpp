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

FormData::FormData(const LocalTime& created) : boundary_(FormBoundary(created)) {}

void FormData::AddField(std::wstring_view name, std::wstring_view value) {
    Part part;
    part.head = "--" + boundary_ + kCrLf + "Content-Disposition: form-data; name=\"" +
                WideToAnsi(name) + "\"" + kCrLf + kCrLf;
    part.value = WideToAnsi(value);
    parts_.push_back(std::move(part));
}

void FormData::AddFile(std::wstring_view name, std::wstring_view path,
                       std::wstring_view mediaType) {
    Part part;
    part.head = "--" + boundary_ + kCrLf + "Content-Disposition: form-data; name=\"" +
                WideToAnsi(name) + "\"; filename=\"" + WideToAnsi(path) + "\"" + kCrLf +
                "Content-Type: " + WideToAnsi(mediaType) + kCrLf + kCrLf;
    part.path = path;
    part.isFile = true;
    parts_.push_back(std::move(part));
}

std::wstring FormData::ContentType() const {
    return L"multipart/form-data; boundary=" + AnsiToWide(boundary_);
}

std::string FormData::Body() const {
    std::string body;
    for (const Part& part : parts_) {
        body += part.head;
        body += part.isFile ? ReadFileBytes(part.path) : part.value;
        body += kCrLf;
    }
    body += "--" + boundary_ + "--" + kCrLf;
    return body;
}

}  // namespace kelvra
