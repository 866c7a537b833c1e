#include "Platform/System/MountTable.h"

#include "SyncModel/Support/PathComponents.h"

#include <libmount.h>

#include <functional>
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

std::string option(const char* options, const char* name) {
    char* value = nullptr;
    std::size_t size = 0;
    if (!options || mnt_optstr_get_option(options, name, &value, &size) != 0 || !value) return {};
    return std::string(value, size);
}

// The kernel writes a space, a tab, a line break and a backslash in a
// path as \040, \011, \012 and \134.
std::string unmangled(const std::string& mangled) {
    std::string out;
    for (std::size_t i = 0; i < mangled.size(); ++i) {
        if (mangled[i] == '\\' && i + 3 < mangled.size() && mangled[i + 1] >= '0' && mangled[i + 1] <= '3' &&
            mangled[i + 2] >= '0' && mangled[i + 2] <= '7' && mangled[i + 3] >= '0' && mangled[i + 3] <= '7') {
            out += static_cast<char>((mangled[i + 1] - '0') * 64 + (mangled[i + 2] - '0') * 8 + (mangled[i + 3] - '0'));
            i += 3;
        } else {
            out += mangled[i];
        }
    }
    return out;
}

// An overlay's layer list: folders apart at ":" ("::" before data-only
// layers), a ":" inside a name written "\:".
void addLayers(const std::string& list, std::vector<std::string>& layers) {
    const std::string plain = unmangled(list);
    std::string layer;
    for (std::size_t i = 0; i <= plain.size(); ++i) {
        if (i < plain.size() && plain[i] == '\\' && i + 1 < plain.size()) {
            layer += plain[++i];
        } else if (i == plain.size() || plain[i] == ':') {
            if (!layer.empty()) layers.push_back(std::move(layer));
            layer.clear();
        } else {
            layer += plain[i];
        }
    }
}

std::vector<std::string> stackedOn(const MountTable::Record& record, const char* fsOptions) {
    std::vector<std::string> folders;
    if (record.fileSystem == "overlay") {
        addLayers(option(fsOptions, "upperdir"), folders);
        addLayers(option(fsOptions, "lowerdir"), folders);
    } else if ((record.fileSystem == "fuse" || record.fileSystem.starts_with("fuse.")) &&
               record.source.starts_with('/')) {
        // fuseblk keeps its own files on the block device it names.
        folders.push_back(record.source);
    }
    return folders;
}

struct Entry {
    MountTable::Record record;
    int id = 0;
    int parent = 0;
    std::vector<std::string> at;  // the mount point's components
};

// Which mounts a path still reaches, from what was mounted on what.
class Visibility {
public:
    explicit Visibility(const std::vector<Entry>& entries) : entries_(entries), open_(entries.size(), -1) {}

    bool isVisible(std::size_t index) {
        const Entry& entry = entries_[index];
        if (entry.id == 0) return !coveredLater(index);
        return isOpen(index) && !stackedOn(index, entries_.size());
    }

private:
    // An mtab tells nothing of parents: it is in mount order, so a mount
    // at or above one is on top of it when it comes later.
    bool coveredLater(std::size_t index) const {
        const Entry& entry = entries_[index];
        for (std::size_t later = index + 1; later < entries_.size(); ++later)
            if (PathComponents::isPrefix(entries_[later].at, entry.at)) return true;
        return false;
    }

    // Whether something other than `except` is mounted over the root of the
    // entry at its own mount point.
    bool stackedOn(std::size_t index, std::size_t except) const {
        const Entry& entry = entries_[index];
        for (std::size_t other = 0; other < entries_.size(); ++other)
            if (other != except && other != index && entries_[other].parent == entry.id &&
                entries_[other].at == entry.at)
                return true;
        return false;
    }

    // Whether a path reaches into the entry's own tree: no mount on the
    // one it was mounted on covers a folder above it (had that mount come
    // first, the entry would have been mounted inside it, not beside it),
    // and a path reaches that mount, with nothing but the entry stacked on
    // it where the entry sits at its mount point.
    bool isOpen(std::size_t index) {
        if (open_[index] >= 0) return open_[index] != 0;
        open_[index] = 0;  // a table whose parents loop ends here
        const Entry& entry = entries_[index];
        bool open = true;
        for (std::size_t other = 0; other < entries_.size() && open; ++other) {
            const Entry& cover = entries_[other];
            if (other != index && cover.parent == entry.parent && cover.at.size() < entry.at.size() &&
                PathComponents::isPrefix(cover.at, entry.at))
                open = false;
        }
        if (open)
            for (std::size_t parent = 0; parent < entries_.size(); ++parent)
                if (parent != index && entries_[parent].id == entry.parent) {
                    open = isOpen(parent) && !stackedOn(parent, entries_[parent].at == entry.at ? index : entries_.size());
                    break;
                }
        open_[index] = open ? 1 : 0;
        return open;
    }

    const std::vector<Entry>& entries_;
    std::vector<int> open_;
};

}  // namespace

std::vector<MountTable::Record> MountTable::read(const std::filesystem::path& file) {
    std::unique_ptr<libmnt_table, TableDeleter> table(mnt_new_table_from_file(file.c_str()));
    if (!table) return {};
    std::unique_ptr<libmnt_iter, IterDeleter> iter(mnt_new_iter(MNT_ITER_FORWARD));
    if (!iter) return {};

    std::vector<Entry> entries;
    libmnt_fs* fs = nullptr;
    while (mnt_table_next_fs(table.get(), iter.get(), &fs) == 0) {
        Entry entry;
        Record& record = entry.record;
        record.mountPoint = text(mnt_fs_get_target(fs));
        record.fileSystem = text(mnt_fs_get_fstype(fs));
        record.source = text(mnt_fs_get_source(fs));
        // Absent in mtab-style tables, which list whole file systems only.
        if (const char* root = mnt_fs_get_root(fs)) record.root = root;
        record.device = mnt_fs_get_devno(fs);
        // Read-only either for this mount or for the whole file system.
        record.readOnly = hasOption(mnt_fs_get_vfs_options(fs), "ro") || hasOption(mnt_fs_get_fs_options(fs), "ro") ||
                          hasOption(mnt_fs_get_options(fs), "ro");
        record.stackedOn = stackedOn(record, mnt_fs_get_fs_options(fs));
        if (record.mountPoint.empty()) continue;
        entry.id = mnt_fs_get_id(fs);
        entry.parent = mnt_fs_get_parent_id(fs);
        entry.at = PathComponents::of(record.mountPoint);
        entries.push_back(std::move(entry));
    }

    Visibility visibility(entries);
    std::vector<bool> visible;
    for (std::size_t i = 0; i < entries.size(); ++i) visible.push_back(visibility.isVisible(i));
    std::vector<Record> records;
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (visible[i]) records.push_back(std::move(entries[i].record));
    return records;
}

}  // namespace kelto
