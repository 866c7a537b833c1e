#include "Kelto_Sync/ArchiveSize.h"

#include "SyncEngine/ArchiveDirectories.h"

#include <system_error>

namespace kelto {

namespace fs = std::filesystem;

std::int64_t ArchiveSize::total(const std::vector<fs::path>& roots, const Uuid& jobID, std::stop_token stop) {
    std::int64_t total = 0;
    for (const fs::path& root : roots) {
        if (!ArchiveDirectories::treeExists(root, jobID)) continue;
        std::error_code error;
        fs::recursive_directory_iterator it(ArchiveDirectories::jobArchiveURL(root, jobID),
                                            fs::directory_options::skip_permission_denied, error);
        for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
            if (stop.stop_requested()) return total;
            std::error_code itemError;
            // The entry's own status: a link is a link, never what it names.
            const fs::file_status status = it->symlink_status(itemError);
            if (itemError || !fs::is_regular_file(status)) continue;
            const std::uintmax_t size = it->file_size(itemError);
            if (!itemError) total += static_cast<std::int64_t>(size);
        }
    }
    return total;
}

}  // namespace kelto
