#include "SyncEngine/ArchiveDirectoriesError.h"

namespace kelto {

namespace {
std::string describe(ArchiveDirectoriesError::Code code, const std::filesystem::path& path) {
    switch (code) {
    case ArchiveDirectoriesError::Code::invalidFileName:
        return "The file name is invalid: \"" + path.string() + "\"";
    }
    return "Archive folder error";
}
}  // namespace

ArchiveDirectoriesError::ArchiveDirectoriesError(Code code, std::filesystem::path path)
    : std::runtime_error(describe(code, path)), code_(code), path_(std::move(path)) {}

}  // namespace kelto
