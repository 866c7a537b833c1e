#pragma once

#include "SyncModel/Support/FileDescriptor.h"
#include "SyncModel/Support/FileIO.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <sys/stat.h>
#include <vector>

// File operations inside a synchronised folder that never follow a symbolic
// link below the root: every folder on the way is opened with O_NOFOLLOW (a
// path of folders in one openat2 call that refuses every link and never
// leaves its start, where the kernel has it) and every action is taken
// relative to the descriptor of its parent folder.
//
// Absence is an answer, not a failure: nothing at the name (ENOENT), or a
// non-folder (a symbolic link included) where a folder is needed on the way
// (ENOTDIR), gives nullopt or false. Every other failure throws FileError
// with the operation and the full path concerned. A name that is empty, ".",
// ".." or holds a slash throws FileError (EINVAL).
namespace kelto::SafeFileSystem {

// An open folder and the full path it was reached by, for messages.
struct Folder {
    FileDescriptor descriptor;
    std::filesystem::path path;

    int get() const { return descriptor.get(); }
    // The full path of `name` inside this folder.
    std::filesystem::path operator/(std::string_view name) const;
};

// The pieces of a relative path between its slashes, empty pieces kept.
std::vector<std::string> split(std::string_view relativePath);

// The path this process reaches an open descriptor by (/proc/self/fd/N):
// for calls that take a path, and for a child that inherits the descriptor
// under the same number.
std::filesystem::path throughDescriptor(int descriptor);
// Where an open descriptor's file or folder lies, as the kernel names it;
// nothing where it cannot tell (no /proc of this process's own, a folder
// gone since, or one reached only through another process's descriptors).
std::optional<std::filesystem::path> whereItLies(int descriptor);

// Opens the root folder itself. A link there is followed: the user chose it.
// A folder reached through this process's descriptors (/proc/self/..., as
// a run reaches the folders it holds) is named where it lies, for messages.
std::optional<Folder> openRoot(const std::filesystem::path& root);

// Opens the folder `name` inside `parent`; nullopt when nothing is there or it
// is not a real folder (a symbolic link, a file).
std::optional<Folder> openChild(const Folder& parent, const std::string& name);

// Opens the folder reached from `start` through `components`, in one call
// where the kernel can, else one at a time, with the same answers and
// failures either way; no components open `start` again.
std::optional<Folder> openPath(const Folder& start, const std::vector<std::string>& components);

// Opens `name` inside `parent`, making it first when missing (default
// permissions). Anything else standing there throws FileError (ENOTDIR).
Folder ensureFolder(const Folder& parent, const std::string& name);

// ensureFolder for each of `components` in turn.
Folder ensurePath(const Folder& start, const std::vector<std::string>& components);

// lstat of `name` inside `parent`.
std::optional<struct stat> statChild(const Folder& parent, const std::string& name);

// The same as the disk has the item now, not as a cache keeps it: a FUSE
// disk keeps each name's attributes apart, so a write through another name
// of the file leaves this name's as they were, and sshfs keeps a cache of
// its own that only an open renews. A regular file is opened and asked past
// the kernel's cache; one that may not be read, and any other item, is
// asked so by name.
std::optional<struct stat> statChildAfresh(const Folder& parent, const std::string& name);

// Opens the regular file `name` inside `parent` for reading; nullopt when
// nothing is there or it is no regular file (a link, a folder, a pipe).
std::optional<FileDescriptor> openFile(const Folder& parent, const std::string& name);

// The names inside a folder, "." and ".." left out.
std::vector<std::string> listNames(const Folder& folder);

// Removes `name` inside `parent`: a link as a link, a folder with all it
// holds. Goes on past a failure and throws the first one; ENOENT anywhere
// counts as done.
void removeTree(const Folder& parent, const std::string& name);

// Removes a file or a link, never a folder (EISDIR). False when nothing is there.
bool removeFile(const Folder& parent, const std::string& name);

// Removes `name` when it is an empty folder. False when it holds something,
// is gone, or is not a folder.
bool removeEmptyFolder(const Folder& parent, const std::string& name);

// Sets the modification time of `name` inside `parent`, a link as itself;
// the access time stays. False when nothing is there.
bool setModificationTime(const Folder& parent, const std::string& name, const timespec& time);

// Moves an item without ever replacing what is at the destination (EEXIST):
// a rename that refuses to replace, else, where the disk has none, a name
// claimed by a hard link; without links either, it fails.
void moveWithoutReplacing(const Folder& from, const std::string& fromName, const Folder& to,
                          const std::string& toName);

// Who else may write in the folder a move goes into.
enum class Writers {
    // A folder the run made itself and alone writes (its holding folder, its
    // archive folder, the folders it made under them): a name seen free
    // there stays free, so no claim against other writers is needed.
    thisRunAlone,
    // The user's tree: the name is claimed in one step wherever the disk
    // offers a way (the kernel's rename that refuses to replace, else a hard
    // link where FileSystemCapabilities says the disk may make one).
    anyone,
};

// Moves an item to a name nothing else is meant to take: into the reserved
// folder, or a held item back to its own place. Never replaces (EEXIST).
// Where the file system can refuse an existing name in none of the ways it
// offers (exFAT through FUSE, the desktop's gvfs), the name is checked free
// and taken plainly; a way it offers that fails (an I/O error) fails the
// move. Across file systems the item is copied, made
// without replacing anything, and then removed. The copy keeps every
// extended attribute, or fails naming the one it could not keep, and the
// names of one file inside a copied folder stay one file where the file
// system takes links. With a `ledger` (a folder that is ours), the name the
// copy stands under meanwhile is recorded there first (clearLeftoverCopies).
void moveToFreeName(const Folder& from, const std::string& fromName, const Folder& to, const std::string& toName,
                    Writers writers = Writers::anyone, const Folder* ledger = nullptr);

// An item's extended attributes, each name with its value.
using Attributes = std::vector<std::pair<std::string, std::string>>;
// Every one `name` inside `parent` lists, a link as itself; none where its
// file system keeps none.
Attributes attributesOf(const Folder& parent, const std::string& name);
// Sets each on `name`, a link as itself; throws FileError naming the one
// that could not be set.
void setAttributes(const Folder& parent, const std::string& name, const Attributes& attributes);

// The name moveToFreeName copies an item under beside its place until the
// copy is whole: this prefix and a fresh UUID. A process killed meanwhile
// leaves it among the user's items, so no transfer or listing may take
// such a name (copyNamePattern). The user may have an item of such a name
// too: only a name the copy's ledger records (an empty file of that name,
// made before the copy and removed after it) is ever cleared.
inline constexpr std::string_view copyPrefix = ".kelto-copy-";
bool isCopyName(std::string_view name);
// The same as an rsync pattern.
std::string copyNamePattern();
// Removes from `folder` (where it is open) each item of a name `ledger`
// records, then the records; throws FileError.
void clearLeftoverCopies(const Folder& ledger, const Folder* folder);

// The way moveWithoutReplacing takes where the file system refuses
// RENAME_NOREPLACE: a hard link claims the name, and the link is checked to
// name the item (by its number where numbers last, else by all an lstat
// shows) before the old name goes. Exposed so that it can be tested on any
// file system.
void moveByClaimingDestination(const Folder& from, const std::string& fromName, const Folder& to,
                               const std::string& toName);

// Whether `name` and `other` reach one item inside `folder`: the same
// inode, or, where the file system numbers each name it is asked for (FUSE),
// the folder lists `name` but not `other`, both show the same kind, size
// and times, and no other listed item whose name folds like `other` shows
// them too. False when either is missing.
bool isOneItem(const Folder& folder, const std::string& name, const std::string& other);
// The same, with nothing where such another item leaves it unknown.
std::optional<bool> isOneItemIfKnown(const Folder& folder, const std::string& name, const std::string& other);

// Renames `oldName` inside `folder` to another spelling of it, as on a volume
// that ignores case or normalisation, where both names may reach the one
// item. Never replaces a different item at `newName` (EEXIST); nothing at
// `oldName` throws ENOENT.
void changeSpelling(const Folder& folder, const std::string& oldName, const std::string& newName);

// A file inside `folder` for trying out what its file system does: one
// without a name where the file system can make such a file, else one made
// under a fresh name and removed at once. Either way it is gone once the
// descriptor closes. `path` is set to the path errors name it by.
FileDescriptor makeScratchFile(const Folder& folder, std::filesystem::path& path);

// Sets the modification (and access) time of the open file, a scratch
// file, to `seconds` and returns what the file system then keeps, in whole
// seconds: a file system clamps a time outside the range it can hold.
// nullopt when it refuses the time instead.
std::optional<std::int64_t> keptModificationTime(const FileDescriptor& file, std::int64_t seconds,
                                                 const std::filesystem::path& path);

// The type (statfs magic number) of the file system holding `path`, which
// may be reached through links; nullopt when nothing is there.
std::optional<std::int64_t> fileSystemType(const std::filesystem::path& path);

// lstat of paths relative to one root, their folders walked without
// following a link. The last parent folder stays open: paths come grouped
// by folder, and a stat per item must stay cheap.
class PathLookup {
public:
    explicit PathLookup(Folder root) : root_(std::move(root)) {}

    // nullopt when nothing is there, or a non-folder stands on the way.
    std::optional<struct stat> stat(std::string_view relativePath);

private:
    Folder root_;
    std::string parentPath_;
    std::optional<Folder> parent_;  // nullopt: the parent is absent
    bool known_ = false;
};

}  // namespace kelto::SafeFileSystem
