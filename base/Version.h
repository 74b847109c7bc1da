// The program's version, defined by the program it is linked into rather
// than compiled into every library: the same libraries make this build's
// program and the next version's, which the update test installs over it.
#pragma once

namespace zelt::build {
extern const char kVersion[];      // digits and dots, as in the request's u=
extern const char kProductName[];  // "Zelt Rarazovo " and the version: agent string and captions
}  // namespace zelt::build
