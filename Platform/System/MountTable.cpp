#include "Platform/System/MountTable.h"

#include <libmount.h>

#include <memory>

namespace kelto {

namespace {
struct TableDeleter {
    void operator()(libmnt_table* table) const { mnt_unref_table(table); }
};
struct IterDeleter {
    void operator()(libmnt_iter* iter) const { mnt_free_iter(iter); }
};
bool hasOption(const char* options, const char* name) {
    return options && mnt_optstr_get_option(options, name, nullptr, nullptr) == 0;
}
std::string text(const char* value) { return value ? std::string(value) : std::string(); }
}  // namespace

std::vector<MountTable::Record> MountTable::read(const std::filesystem::path& file) {
    std::unique_ptr<libmnt_table, TableDeleter> table(mnt_new_table_from_file(file.c_str()));
    if (!table) return {};
    std::unique_ptr<libmnt_iter, IterDeleter> iter(mnt_new_iter(MNT_ITER_FORWARD));
    if (!iter) return {};

    std::vector<Record> records;
    libmnt_fs* fs = nullptr;
    while (mnt_table_next_fs(table.get(), iter.get(), &fs) == 0) {
        Record record;
        record.mountPoint = text(mnt_fs_get_target(fs));
        record.fileSystem = text(mnt_fs_get_fstype(fs));
        record.source = text(mnt_fs_get_source(fs));
        // Absent in mtab-style tables, which list whole file systems only.
        if (const char* root = mnt_fs_get_root(fs)) record.root = root;
        record.device = mnt_fs_get_devno(fs);
        // Read-only either for this mount or for the whole file system.
        record.readOnly = hasOption(mnt_fs_get_vfs_options(fs), "ro") || hasOption(mnt_fs_get_fs_options(fs), "ro") ||
                          hasOption(mnt_fs_get_options(fs), "ro");
        if (record.mountPoint.empty()) continue;
        // A later mount at the same point hides the earlier one.
        std::erase_if(records, [&](const Record& r) { return r.mountPoint == record.mountPoint; });
        records.push_back(std::move(record));
    }
    return records;
}

}  // namespace kelto
