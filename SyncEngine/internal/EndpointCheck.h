#pragma once

#include "SyncEngine/FolderIdentity.h"
#include "SyncEngine/Side.h"
#include "SyncEngine/TreeOverlap.h"
#include "SyncModel/Support/FileDescriptor.h"

#include <filesystem>
#include <optional>
#include <utility>
#include <variant>

namespace kelto {

// What both engines check of a job's two folders before anything is listed:
// each must be an existing folder, neither may be the other or lie inside
// it, and what stands at each one's reserved name must be a real folder, if
// anything (a file or a link there would take the archive's place). Each
// engine adds its own mode and read-only rules and error type.
struct EndpointCheck {
    struct Fault {
        enum class Case { missing, nested, reservedNotFolder, replaced };
        Case kind = Case::missing;
        // missing, replaced: that side's folder as given, not resolved;
        // reservedNotFolder: the item at that side's reserved name
        std::filesystem::path folder;
        Side side = Side::a;  // replaced: whose folder it is

        friend bool operator==(const Fault&, const Fault&) = default;
    };

    // The first fault: `a`, then `b`, missing or not a folder; then nesting,
    // by the paths with their links resolved or, for a folder reached at two
    // paths (a bind mount), by device and inode along each path's folders,
    // then by `treesOverlap` for trees that reach each other through
    // mounts; then `a`'s, then `b`'s reserved name held by anything but a
    // folder.
    static std::optional<Fault> firstFault(const std::filesystem::path& a, const std::filesystem::path& b,
                                           const TreeOverlap& treesOverlap);

    // Whether `a`, then `b`, still leads to the folder a plan was made on
    // (`plannedA`, `plannedB`): a replaced fault for the first that leads to
    // another folder now, cannot be read, or had none recorded. Paths are
    // followed as rsync will follow them, so what planning looked at is what
    // gets written.
    static std::optional<Fault> replaced(const std::filesystem::path& a, const std::filesystem::path& b,
                                         const std::optional<FolderIdentity>& plannedA,
                                         const std::optional<FolderIdentity>& plannedB);

    // The two folders a plan was made on, opened where `a` and `b` lead now
    // and held while the value lives. A run holds them once, at its start,
    // and every step that reads or writes a side reaches it through these:
    // rsync by the descriptors (RsyncRunner::runBetween) and by paths below
    // path() for what it is told by path (its partial folder), this process
    // by path(), which leads to the opened folder itself
    // (/proc/<pid>/fd/<n>), so that nothing done to the sides' paths after
    // the check (a link retargeted, a rename, a mount over a side or above
    // it) sends the reads and writes elsewhere. Texts for the user name the
    // sides' own paths.
    class Held {
    public:
        const std::filesystem::path& path(Side side) const { return side == Side::a ? pathA_ : pathB_; }
        int descriptor(Side side) const { return side == Side::a ? a_.get() : b_.get(); }
        // Whether the side's folder, by the path it lies at now (what rsync
        // looks up again for its destination), is out of reach: something
        // mounted over it or above it, or it cannot be told.
        bool covered(Side side) const;

    private:
        friend struct EndpointCheck;
        FileDescriptor a_, b_;
        std::filesystem::path pathA_, pathB_;
    };
    // The held folders, or the replaced fault replaced() names.
    static std::variant<Held, Fault> hold(const std::filesystem::path& a, const std::filesystem::path& b,
                                          const std::optional<FolderIdentity>& plannedA,
                                          const std::optional<FolderIdentity>& plannedB);

    // A fault as the engine's error: each engine's `Error` names the cases
    // alike (endpointMissing, nestedEndpoints, reservedNotFolder,
    // folderReplaced), so this is the one mapping both use.
    template <class Error>
    [[noreturn]] static void raise(const Fault& fault) {
        switch (fault.kind) {
        case Fault::Case::missing: throw Error::endpointMissing(fault.folder);
        case Fault::Case::nested: throw Error::nestedEndpoints();
        case Fault::Case::reservedNotFolder: throw Error::reservedNotFolder(fault.folder);
        case Fault::Case::replaced: throw Error::folderReplaced(fault.folder, fault.side);
        }
        throw Error::nestedEndpoints();
    }

    // Throws the fault, if any, as the engine's error.
    template <class Error>
    static void require(const std::optional<Fault>& fault) {
        if (fault) raise<Error>(*fault);
    }

    // hold(), its fault thrown as the engine's error.
    template <class Error>
    static Held holdOrRaise(const std::filesystem::path& a, const std::filesystem::path& b,
                            const std::optional<FolderIdentity>& plannedA,
                            const std::optional<FolderIdentity>& plannedB) {
        std::variant<Held, Fault> held = hold(a, b, plannedA, plannedB);
        if (const Fault* fault = std::get_if<Fault>(&held)) raise<Error>(*fault);
        return std::move(std::get<Held>(held));
    }
};

}  // namespace kelto
