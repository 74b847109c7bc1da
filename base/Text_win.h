// Win32 only. The program's text is cp1251 bytes; the platform's W functions take UTF-16.
// Every call into the platform converts here.
#pragma once

#include <string>

namespace zelt {

std::wstring Widen(const std::string& cp1251);
std::string Narrow(const std::wstring& utf16);

}  // namespace zelt
