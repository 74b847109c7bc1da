// The files a patch carries and how it puts them in place.
//
// The payload is one resource of the patch: "ZPAYLOAD" and a count, then per
// file a 16-bit name length, the name (UTF-8, a relative path with
// backslashes) and a 32-bit size with the bytes (little-endian numbers).
// Every file is first written whole beside its target, then the targets are
// swapped in one after the other; a failure on the way puts every file back
// as it was. data.dat is the user's and never part of a patch.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zelt::patch {

struct TPatchFile {
  std::wstring Name;       // relative to the program's folder
  std::string_view Bytes;  // inside the payload
};

// Splits a payload; false (and nothing in `files`) when it is malformed: a
// bad header, a count or size beyond its end, trailing bytes, or a name that
// is empty, absolute, climbs with "..", holds ':' or '/', is not UTF-8, or
// names data.dat.
bool ParsePayload(std::string_view payload, std::vector<TPatchFile>& files);

// Replaces the files in `dir` (ending in a backslash). True when all of them
// are in place; false when one could not be, with `failed` naming it and every
// file back as it was (targets restored, nothing new left behind).
bool ApplyPatch(const std::wstring& dir, const std::vector<TPatchFile>& files, std::wstring& failed);

}  // namespace zelt::patch
