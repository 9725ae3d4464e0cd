// The private per-user temporary directory: version files, downloaded
// archives and their extraction folders live here, out of reach of other
// users of the machine.
#pragma once

#include <string>
#include <string_view>

namespace orvane {

// The directory, ending in "/": "$XDG_RUNTIME_DIR/orvane/" when the runtime
// directory is set, else "$TMPDIR/orvane-<uid>/" (TMPDIR defaulting to /tmp).
// Created with mode 0700 when missing; an existing one must be a real
// directory (not a symlink) owned by this user and closed to everyone else,
// otherwise the result is empty and `error` says why.
std::string PrivateTempDir(std::string* error = nullptr);

// The private directory followed by `name`; empty (with `error`) when the
// directory is not usable.
std::string MakeTempPath(std::string_view name, std::string* error = nullptr);

}  // namespace orvane
