#pragma once

#include <filesystem>
#include <functional>

namespace kelto {

// Whether two folders' trees reach each other through mounts: one mounted
// below the other, a stacked file system over the other, one file system
// shown twice. Links in both paths are resolved. The engines ask it at every
// endpoint check, so it must look at the mounts as they are when asked.
// Where it cannot tell, it throws, and the check fails with its error.
using TreeOverlap = std::function<bool(const std::filesystem::path& a, const std::filesystem::path& b)>;

}  // namespace kelto
