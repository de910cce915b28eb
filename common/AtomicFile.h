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
void replaceFile(const std::string& path, std::string_view contents,
                 const std::function<void()>& beforeRename = {});

}  // namespace velkor
