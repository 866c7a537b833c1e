#include "SyncEngine/RsyncArguments.h"

#include "SyncEngine/internal/OverlapMarkers.h"
#include "SyncModel/Support/SafeFileSystem.h"

#include <algorithm>

namespace kelto {

namespace {

std::string directoryOperand(const std::filesystem::path& folder) {
    std::string text = folder.native();
    if (text.empty() || text.back() != '/') text += '/';  // the folder's contents, not the folder
    return text;
}

}  // namespace

std::vector<std::string> RsyncArguments::build(const RsyncInvocation& invocation) {
    const RsyncOperation& operation = invocation.operation;
    const FileSystemTraits& traits = invocation.traits;
    const bool listing = operation.kind == RsyncOperation::Kind::listOnly;

    std::vector<std::string> args{
        "--links",
        "--times",
        "--no-owner",
        "--no-group",
        "--no-human-readable",
        "--itemize-changes",
        "--out-format=%i %l %b %n",
        "--info=progress2",
        "--no-inc-recursive",
    };
    // A partial folder relative to each file's folder would be made beside
    // the user's files, and costs rsync a lookup per file: one absolute
    // folder inside the reserved folder serves instead.
    if (invocation.partialDirectory) args.push_back("--partial-dir=" + invocation.partialDirectory->native());
    if (invocation.temporaryDirectory) args.push_back("--temp-dir=" + invocation.temporaryDirectory->native());
    // Without a trailing "/", so that the rule holds whatever the reserved
    // name is on either side: a file or a link of that name on A would
    // otherwise replace B's reserved folder, archive and all.
    args.push_back("--exclude=/.KeltoSync");
    // A copy across file systems cut short, wherever it stands: the next
    // settling clears it, and no walk or transfer takes it for the user's.
    args.push_back("--filter=- " + SafeFileSystem::copyNamePattern());
    args.push_back("--modify-window=" + std::to_string(traits.modifyWindow));
    args.push_back(traits.isNetwork ? "--timeout=120" : "--timeout=0");
    args.push_back(traits.preservesPermissions ? "--perms" : "--no-perms");

    // Linux rsync has no creation-time option (-N), so none is passed even
    // when the traits claim the volume keeps creation times.
    if (!listing && traits.preservesXattrs) args.push_back("-X");
    if (!listing && invocation.ignoreTimes) args.push_back("--ignore-times");

    switch (operation.kind) {
        case RsyncOperation::Kind::filesFrom:
            args.push_back("--files-from=" + operation.listFile.native());
            args.push_back("--from0");
            break;
        case RsyncOperation::Kind::mirror:
            args.insert(args.end(), {"--recursive", "--delete", "--delete-delay"});
            if (invocation.maximumDeletions)
                args.push_back("--max-delete=" + std::to_string(std::max<std::int64_t>(*invocation.maximumDeletions, 0)));
            break;
        case RsyncOperation::Kind::copy:
            args.push_back("--recursive");
            break;
        case RsyncOperation::Kind::listOnly:
            args.insert(args.end(), {"--list-only", "--recursive"});
            break;
    }

    if (!listing && invocation.backupDirectory) {
        args.push_back("--backup");
        args.push_back("--backup-dir=" + *invocation.backupDirectory);
    }

    if (invocation.dryRun) args.insert(args.end(), {"--dry-run", "--itemize-changes"});

    // rsync reads rule prefixes even in --exclude: "!" clears every rule
    // before it (the reserved folder's included) and "+ " turns the pattern
    // into an include. The explicit "- " makes the rest a literal exclusion.
    // An empty pattern matches nothing, and after "- " rsync rejects it.
    for (const std::string& name : invocation.alwaysListed) args.push_back("--include=+ " + name);
    if (invocation.leaveOutMarkers) args.push_back("--exclude=- " + OverlapMarkers::pattern());
    for (const std::string& pattern : invocation.filters.effectivePatterns())
        if (!pattern.empty()) args.push_back("--exclude=- " + pattern);

    if (invocation.extraExcludeFile) {
        args.push_back("--from0");
        args.push_back("--exclude-from=" + invocation.extraExcludeFile->native());
    }

    args.push_back(directoryOperand(invocation.source));
    if (!listing && invocation.destination) args.push_back(directoryOperand(*invocation.destination));
    return args;
}

}  // namespace kelto
