#include "Platform/System/MountTable.h"

#include "SyncModel/Support/PathComponents.h"

#include <libmount.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string_view>

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

// The kernel writes a space, a tab, a line break and a backslash in a
// path, and a comma in an option's value, as \040, \011, \012, \134, \054.
std::string unmangled(std::string_view mangled) {
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

using Options = std::vector<std::pair<std::string, std::string>>;

// A file system's options as name and value. In mountinfo every comma
// inside a value is escaped, so only the text as the kernel wrote it tells
// where an option ends; libmount's decoded text, all an mtab gives, splits
// a value holding a comma.
Options optionList(std::string_view text, bool escaped) {
    Options options;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(',', start), text.size());
        const std::string_view option = text.substr(start, end - start);
        const std::size_t equals = option.find('=');
        std::string value(equals == std::string_view::npos ? std::string_view() : option.substr(equals + 1));
        options.emplace_back(option.substr(0, equals), escaped ? unmangled(value) : value);
        start = end + 1;
    }
    return options;
}

// The super options of each mountinfo line (the last field) as written, by
// mount id.
std::map<int, std::string> rawOptions(const std::string& table) {
    std::map<int, std::string> options;
    std::istringstream lines(table);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::vector<std::string> field;
        for (std::string word; fields >> word;) field.push_back(std::move(word));
        const auto separator = std::find(field.begin() + std::min<std::ptrdiff_t>(6, std::ssize(field)), field.end(), "-");
        if (field.empty() || field.end() - separator < 4) continue;
        options[std::atoi(field.front().c_str())] = separator[3];
    }
    return options;
}

// An overlay's upper folder is written with a backslash before each
// character that is to be taken as it stands.
std::string unescaped(const std::string& escaped) {
    std::string plain;
    for (std::size_t i = 0; i < escaped.size(); ++i) plain += escaped[i] == '\\' && i + 1 < escaped.size() ? escaped[++i] : escaped[i];
    return plain;
}

// An overlay's layer list: folders apart at ":" ("::" before data-only
// layers), a ":" inside a name written "\:".
void addLayers(const std::string& plain, std::vector<std::string>& layers) {
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

std::vector<std::string> stackedOn(const MountTable::Record& record, const Options& options) {
    std::vector<std::string> folders;
    if (record.fileSystem == "overlay") {
        for (const auto& [name, value] : options)
            if (name == "upperdir") folders.push_back(unescaped(value));
        for (const auto& [name, value] : options) {
            if (name == "lowerdir") addLayers(value, folders);
            // Layers given one by one are taken as they stand.
            else if (name == "lowerdir+" || name == "datadir+") folders.push_back(value);
        }
    } else if ((record.fileSystem == "fuse" || record.fileSystem.starts_with("fuse.")) &&
               record.source.starts_with('/')) {
        // fuseblk keeps its own files on the block device it names.
        folders.push_back(record.source);
    }
    std::erase(folders, std::string());
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
    // One reading serves libmount and the options as written: the table
    // changes under a second one.
    std::ifstream stream(file, std::ios::binary);
    if (!stream) return {};
    const std::string contents{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
    if (contents.empty()) return {};
    const std::unique_ptr<FILE, int (*)(FILE*)> memory(
        ::fmemopen(const_cast<char*>(contents.data()), contents.size(), "r"), &::fclose);
    std::unique_ptr<libmnt_table, TableDeleter> table(mnt_new_table());
    if (!memory || !table || mnt_table_parse_stream(table.get(), memory.get(), file.c_str()) != 0) return {};
    std::unique_ptr<libmnt_iter, IterDeleter> iter(mnt_new_iter(MNT_ITER_FORWARD));
    if (!iter) return {};
    const std::map<int, std::string> written = rawOptions(contents);

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
        if (record.mountPoint.empty()) continue;
        entry.id = mnt_fs_get_id(fs);
        entry.parent = mnt_fs_get_parent_id(fs);
        entry.at = PathComponents::of(record.mountPoint);
        const auto raw = entry.id != 0 ? written.find(entry.id) : written.end();
        const Options options = raw != written.end() ? optionList(raw->second, true)
                                                     : optionList(text(mnt_fs_get_fs_options(fs)), false);
        record.stackedOn = stackedOn(record, options);
        if (record.fileSystem == "fuse" || record.fileSystem.starts_with("fuse."))
            for (const auto& [name, value] : options)
                if (uid_t owner = 0; name == "user_id" &&
                                     std::from_chars(value.data(), value.data() + value.size(), owner) ==
                                         std::from_chars_result{value.data() + value.size(), std::errc{}})
                    record.owner = owner;
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
