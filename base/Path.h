// Paths in the system's own form: UTF-16 on Windows, so that a folder named
// outside cp1251 stays what it is; bytes elsewhere (the portable tests).
// Plain strings and the system's W calls keep the program small: a path
// library costs a static build most of a megabyte.
#pragma once

#include <cstddef>
#include <string>

#include "base/ProductNames.h"

#ifndef _WIN32
#include <filesystem>
#endif

namespace zelt {

#ifdef _WIN32
using TPathString = std::wstring;
#else
using TPathString = std::string;
#endif

// A shared name in the form a path takes.
template <size_t N>
constexpr const TPathString::value_type* PathName(const TName<N>& name) {
#ifdef _WIN32
  return name.Wide;
#else
  return name.Narrow;
#endif
}

// A path as UTF-16, the form the registry keeps it in.
#ifdef _WIN32
inline const std::wstring& WidePath(const TPathString& path) { return path; }
#else
inline std::wstring WidePath(const TPathString& path) { return std::filesystem::path(path).wstring(); }
#endif

// The folder of `path`, ending in its last separator (empty when it has
// none).
inline TPathString FolderOf(const TPathString& path) {
#ifdef _WIN32
  const size_t slash = path.find_last_of(L"\\/");
#else
  const size_t slash = path.find_last_of('/');
#endif
  return slash == TPathString::npos ? TPathString() : path.substr(0, slash + 1);
}

}  // namespace zelt
