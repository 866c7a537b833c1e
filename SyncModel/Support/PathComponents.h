#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kelto::PathComponents {

// The components of a path with dot and dot-dot segments removed; the first
// of an absolute path is "/".
std::vector<std::string> of(const std::filesystem::path& path);

// Component-wise: /media/Back is no prefix of /media/Backup/x. An empty
// prefix is a prefix of every list.
bool isPrefix(const std::vector<std::string>& prefix, const std::vector<std::string>& components);

}  // namespace kelto::PathComponents
