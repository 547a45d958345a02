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

    const std::string& Boundary() const { return boundary_; }

    // "multipart/form-data; boundary=" + the boundary.
    std::wstring ContentType() const;

    // The whole body, file parts read now, each file exactly once, so the
    // length sent with the request always matches the bytes sent. Raises
    // FileError when a file cannot be read.
    std::string Body() const;

    std::size_t PartCount() const { return parts_.size(); }

  private:
    struct Part {
        std::string head;   // delimiter line and part headers, up to the blank line
        std::wstring path;  // file parts: the file whose bytes follow
        std::string value;  // text fields: the value
        bool isFile = false;
    };

    std::string boundary_;
    std::vector<Part> parts_;
};

}  // namespace kelvra
