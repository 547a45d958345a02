#pragma once
// The multipart/form-data body of the program's posts: text fields and file
// parts in the order they are added, separated by a boundary made from the
// local time at which the form was created.
//
//   --<boundary> CR LF
//   Content-Disposition: form-data; name="<name>" CR LF CR LF <value> CR LF
//   --<boundary> CR LF
//   Content-Disposition: form-data; name="<name>"; filename="<path>" CR LF
//   Content-Type: <media type> CR LF CR LF <file bytes> CR LF
//   --<boundary>-- CR LF
//
// Names, values and paths go on the wire in the ANSI code page, exactly as
// they stand: that is how the service reads them, and the values the
// program sends are plain ASCII anyway.

#include <string>
#include <string_view>
#include <vector>

#include "common/clock.h"

namespace kelvra {

// "--------" + the time as mmddyyhhnnsszzz (month, day, two-digit year, hour
// 00-23, minutes, seconds, milliseconds).
std::string FormBoundary(const LocalTime& time);

class FormData {
  public:
    // The boundary comes from the local clock at this moment.
    FormData();
    explicit FormData(const LocalTime& created);

    void AddField(std::wstring_view name, std::wstring_view value);

    // The file is read only when the body is made, so a part can name a file
    // that does not exist yet; Body() then fails.
    void AddFile(std::wstring_view name, std::wstring_view path, std::wstring_view mediaType);

    // The boundary of the body made last; before any, the clock's.
    const std::string& Boundary() const { return boundary_; }

    // "multipart/form-data; boundary=" + the boundary: ask for it after the
    // body, whose content may change the boundary.
    std::wstring ContentType() const;

    // The whole body, file parts read now, each file exactly once, so the
    // length sent with the request always matches the bytes sent. Raises
    // FileError when a file cannot be read. Should a part hold the clock's
    // boundary, the body gets the boundary with decimal digits added, the
    // first such that occurs in no part, so that the body always splits back
    // into the parts that went in.
    std::string Body() const;

    std::size_t PartCount() const { return parts_.size(); }

  private:
    struct Part {
        std::string head;   // part headers, up to and including the blank line
        std::wstring path;  // file parts: the file whose bytes follow
        std::string value;  // text fields: the value
        bool isFile = false;
    };

    std::string created_;           // from the clock when the form was created
    mutable std::string boundary_;  // that of the last body made
    std::vector<Part> parts_;
};

}  // namespace kelvra
