#pragma once
// A fresh folder for one test, removed with everything in it afterwards.

#include <string>

namespace kelvra::testing {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder with a trailing separator ("\" on Windows, "/" natively).
    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + name; }

  private:
    std::wstring path_;
};

}  // namespace kelvra::testing
