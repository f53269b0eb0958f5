// UTF-8 <-> UTF-16 for the Win32 "W" API. Private to the platform library.
#pragma once

#include <windows.h>

#include <string>

namespace platform {
namespace win {

inline std::string toUtf8(const wchar_t* text) {
  if (!text || !*text)
    return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1)
    return {};
  std::string result(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &result[0], size, nullptr, nullptr);
  result.resize(static_cast<size_t>(size) - 1);  // Drop the terminator counted in size.
  return result;
}

inline std::wstring toWide(const std::string& text) {
  if (text.empty())
    return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (size <= 0)
    return {};
  std::wstring result(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], size);
  return result;
}

// The rest of the client joins paths with '/', which Windows accepts too.
inline std::string withForwardSlashes(std::string path) {
  for (char& c : path) {
    if (c == '\\')
      c = '/';
  }
  while (path.size() > 3 && path.back() == '/')
    path.pop_back();
  return path;
}

}  // namespace win
}  // namespace platform
