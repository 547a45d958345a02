#include "http/mediatype.h"

#include "common/paths.h"
#include "common/textutil.h"

namespace kelvra {
namespace {

struct MediaType {
    std::wstring_view extension;
    std::wstring_view type;
};

constexpr MediaType kMediaTypes[] = {
    {L"txt", L"text/plain"},        {L"log", L"text/plain"},
    {L"htm", L"text/html"},         {L"html", L"text/html"},
    {L"css", L"text/css"},          {L"csv", L"text/csv"},
    {L"xml", L"text/xml"},          {L"js", L"application/javascript"},
    {L"json", L"application/json"}, {L"pdf", L"application/pdf"},
    {L"zip", L"application/zip"},   {L"gz", L"application/gzip"},
    {L"gif", L"image/gif"},         {L"jpg", L"image/jpeg"},
    {L"jpeg", L"image/jpeg"},       {L"png", L"image/png"},
    {L"bmp", L"image/bmp"},         {L"ico", L"image/x-icon"},
    {L"svg", L"image/svg+xml"},     {L"webp", L"image/webp"},
};

}  // namespace

std::wstring MediaTypeForPath(std::wstring_view path) {
    const std::wstring_view dotted = ExtensionPart(path, PathSeparators::Any);
    if (!dotted.empty()) {
        const std::wstring extension = LowerAscii(dotted.substr(1));
        for (const MediaType& known : kMediaTypes)
            if (known.extension == extension) return std::wstring(known.type);
    }
    return L"application/octet-stream";
}

}  // namespace kelvra
