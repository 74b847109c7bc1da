// Win32 only. The program's text is cp1251 bytes; the platform's W functions take UTF-16.
// Every call into the platform converts here.
#pragma once

#include <string>

namespace zelt {

std::wstring Widen(const std::string& cp1251);
std::string Narrow(const std::wstring& utf16);

// A file path as the program's text (a setting in data.dat, a dialog's
// answer): cp1251 when it fits; otherwise the system's short (8.3) form of
// the path, or of its folder when the file does not exist yet, which holds
// plain letters only; the lossy conversion when there is none.
std::string PathText(const std::wstring& path);

}  // namespace zelt
