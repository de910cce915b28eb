#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace velkor {

// Replaces the file at `path` with `contents` so that a crash or a power failure leaves either
// the old file or the new one, never a mixture: the bytes go to a temporary file in the same
// folder, which is flushed to disk and then renamed over the old one.
// `beforeRename` runs between writing and renaming; it exists so that a test can kill the
// process at exactly that point.
// Throws "Cannot create file "<path>". <reason>" when the file cannot be written.
// The new file keeps the old one's owner and permissions; a new file gets those the process's
// umask gives. A `path` that is a symbolic link is refused: its target is never read or written.
void replaceFile(const std::string& path, std::string_view contents,
                 const std::function<void()>& beforeRename = {});

// The reason the console gives for a file it could not open, create or replace: the system's
// own, except that a symbolic link, which the console never follows in its start-up directory
// (another account could point it at a file of this one), is named as such.
std::string fileErrorReason(int error);

// Removes the temporary files that a replaceFile of `path` killed between writing and renaming
// left beside it; returns how many.
int removeLeftoverTemporaries(const std::string& path);

}  // namespace velkor
