#include "fuzz_support.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace kelvra::fuzz {

std::vector<std::string_view> SplitFields(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string_view> fields;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t start = 0;
    for (;;) {
        const std::size_t cut = input.find('\0', start);
        fields.push_back(input.substr(start, cut == std::string_view::npos ? cut : cut - start));
        if (cut == std::string_view::npos) return fields;
        start = cut + 1;
    }
}

std::wstring WideFromBytes(std::string_view bytes) {
    std::wstring text;
    text.reserve(bytes.size());
    std::size_t i = 0;
    auto byteAt = [&](std::size_t at) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at]));
    };
    auto isTail = [&](std::size_t at) { return at < bytes.size() && (byteAt(at) & 0xC0) == 0x80; };
    while (i < bytes.size()) {
        const std::uint32_t lead = byteAt(i);
        std::size_t length = 1;
        std::uint32_t code = lead;
        if (lead >= 0xC2 && lead <= 0xDF && isTail(i + 1)) {
            length = 2;
            code = ((lead & 0x1F) << 6) | (byteAt(i + 1) & 0x3F);
        } else if (lead >= 0xE0 && lead <= 0xEF && isTail(i + 1) && isTail(i + 2)) {
            code = ((lead & 0x0F) << 12) | ((byteAt(i + 1) & 0x3F) << 6) | (byteAt(i + 2) & 0x3F);
            if (code >= 0x800)
                length = 3;
            else
                code = lead;
        } else if (lead >= 0xF0 && lead <= 0xF4 && isTail(i + 1) && isTail(i + 2) &&
                   isTail(i + 3)) {
            code = ((lead & 0x07) << 18) | ((byteAt(i + 1) & 0x3F) << 12) |
                   ((byteAt(i + 2) & 0x3F) << 6) | (byteAt(i + 3) & 0x3F);
            if (code >= 0x10000 && code <= 0x10FFFF)
                length = 4;
            else
                code = lead;
        }
        text += static_cast<wchar_t>(code);
        i += length;
    }
    return text;
}

std::string Utf8ForMessage(std::wstring_view text) {
    std::string out;
    for (wchar_t ch : text) {
        auto code = static_cast<std::uint32_t>(ch);
        if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

void Fail(std::string_view what, std::string_view detail) {
    std::fprintf(stderr, "\n*** property violated: %.*s\n", static_cast<int>(what.size()),
                 what.data());
    if (!detail.empty())
        std::fprintf(stderr, "*** %.*s\n", static_cast<int>(detail.size()), detail.data());
    std::abort();
}

void Require(bool holds, std::string_view what, std::string_view detail) {
    if (!holds) Fail(what, detail);
}

bool IsPlainAscii(std::wstring_view text) {
    for (wchar_t ch : text)
        if (ch < 32 || ch > 127) return false;
    return true;
}

namespace {

// The part of expat's C interface the check needs; the library's ABI has
// kept these signatures since its first release.
using XmlParser = void*;
using StartHandler = void (*)(void*, const char*, const char**);
using EndHandler = void (*)(void*, const char*);
using TextHandler = void (*)(void*, const char*, int);

struct Expat {
    XmlParser (*create)(const char*);
    void (*free)(XmlParser);
    void (*setUserData)(XmlParser, void*);
    void (*setElementHandler)(XmlParser, StartHandler, EndHandler);
    void (*setCharacterDataHandler)(XmlParser, TextHandler);
    int (*parse)(XmlParser, const char*, int, int);
    int (*getErrorCode)(XmlParser);
    const char* (*errorString)(int);
    unsigned long (*currentLine)(XmlParser);
};

template <class F>
void Bind(void* library, const char* name, F& function) {
    function = reinterpret_cast<F>(dlsym(library, name));
    if (!function) {
        std::fprintf(stderr, "expat: %s missing\n", name);
        std::abort();
    }
}

const Expat& LoadExpat() {
    static const Expat expat = [] {
        void* library = dlopen("libexpat.so.1", RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            std::fprintf(stderr, "expat (libexpat.so.1, package libexpat1) is needed: %s\n",
                         dlerror());
            std::abort();
        }
        Expat e{};
        Bind(library, "XML_ParserCreate", e.create);
        Bind(library, "XML_ParserFree", e.free);
        Bind(library, "XML_SetUserData", e.setUserData);
        Bind(library, "XML_SetElementHandler", e.setElementHandler);
        Bind(library, "XML_SetCharacterDataHandler", e.setCharacterDataHandler);
        Bind(library, "XML_Parse", e.parse);
        Bind(library, "XML_GetErrorCode", e.getErrorCode);
        Bind(library, "XML_ErrorString", e.errorString);
        Bind(library, "XML_GetCurrentLineNumber", e.currentLine);
        return e;
    }();
    return expat;
}

struct Collector {
    XmlVerdict* verdict;
    std::string_view textOf;
    int depthInWanted = 0;
};

void OnStart(void* data, const char* name, const char** attributes) {
    auto* c = static_cast<Collector*>(data);
    ++c->verdict->elements;
    if (c->textOf.starts_with('@')) {
        for (const char** a = attributes; *a; a += 2)
            if (c->textOf.substr(1) == a[0]) c->verdict->texts.emplace_back(a[1]);
    } else if (!c->textOf.empty() && c->textOf == name) {
        c->verdict->texts.emplace_back();
        ++c->depthInWanted;
    }
}

void OnEnd(void* data, const char* name) {
    auto* c = static_cast<Collector*>(data);
    if (!c->textOf.starts_with('@') && !c->textOf.empty() && c->textOf == name) --c->depthInWanted;
}

void OnText(void* data, const char* text, int length) {
    auto* c = static_cast<Collector*>(data);
    if (c->depthInWanted > 0)
        c->verdict->texts.back().append(text, static_cast<std::size_t>(length));
}

}  // namespace

XmlVerdict ParseXml(std::string_view document, std::string_view textOf) {
    const Expat& expat = LoadExpat();
    XmlVerdict verdict;
    Collector collector{&verdict, textOf};
    XmlParser parser = expat.create(nullptr);
    expat.setUserData(parser, &collector);
    expat.setElementHandler(parser, OnStart, OnEnd);
    expat.setCharacterDataHandler(parser, OnText);
    if (expat.parse(parser, document.data(), static_cast<int>(document.size()), 1) == 1) {
        verdict.wellFormed = true;
    } else {
        verdict.error = std::string(expat.errorString(expat.getErrorCode(parser))) + " at line " +
                        std::to_string(expat.currentLine(parser));
    }
    expat.free(parser);
    return verdict;
}

}  // namespace kelvra::fuzz
