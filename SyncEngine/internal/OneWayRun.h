#pragma once

#include "SyncEngine/FileSystemTraits.h"
#include "SyncEngine/OneWayEngine.h"
#include "SyncEngine/RsyncEvent.h"
#include "SyncEngine/RsyncExit.h"
#include "SyncEngine/RsyncInvocation.h"
#include "SyncEngine/RunLogSink.h"
#include "SyncEngine/SpellingAlignment.h"
#include "SyncEngine/SyncPlan.h"
#include "SyncEngine/TransferScratch.h"
#include "SyncEngine/internal/EndpointCheck.h"
#include "SyncEngine/internal/HoldingFolder.h"
#include "SyncModel/RunStats.h"
#include "SyncModel/SyncJob.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kelto {

// One one-way run (OneWayEngine::run): its steps, in the order perform()
// takes them, each handing what it found to the next. Used once.
class OneWayRun {
public:
    using ProgressHandler = OneWayEngine::ProgressHandler;

    // The accounting, log writing and throttled reports of the transfer.
    class TransferState;

    // What the transfer may take from B without a new review: only the
    // versions the plan saw, at paths the reviewed plan listed. What a later
    // look would take beyond that never goes unreviewed: with the archive
    // off (or `onlyPlanned`, a plan no guard asked about) a deletion stops
    // the run for a new plan, and so do replacements that on their own would
    // reach the guard's review (a disk swapped or rewritten wholesale since
    // planning); the other replacements are left for the next run, whose
    // plan lists them, as a change made after the run would be: the transfer
    // is kept away from them. With the archive on rsync may take what it
    // finds. Whatever the transfer takes that the plan did not see (a change
    // after the look began, or after the plan of a copy job that makes no
    // later look) is held and kept, never deleted nor archived.
    struct Bound {
        std::optional<std::string_view> refusal;  // a reason to plan again instead
        HoldingFolder::Planned planned;           // what may go for good
        std::vector<std::string> leftAlone;       // replacements the transfer is kept away from
    };

    // What the recovery of earlier runs' held items found, and the claim on
    // B's temporary folder, held for the rest of the run.
    struct Recovery {
        TransferScratch::Claim scratch;
        std::vector<std::string> notes;      // what the recovery did
        std::vector<std::string> leftovers;  // what could not be cleared, for the log
        bool stillHeld = false;              // what an earlier run held and still cannot go back
        bool displaced = false;              // what an earlier run held, archived or kept for good
        bool putBack = false;                // B changed since the plan looked
    };

    // What the last look before the transfer tells it: a fresh dry run, or the
    // plan's own while it is a moment old, or none (the plan alone).
    struct LastLook {
        std::optional<std::string_view> refusal;  // a reason to plan again instead
        bool unchanged = false;                   // nothing for the transfer to do
        std::vector<std::string> received;        // the files rsync will write
        std::int64_t largest = 0;                 // the size of the largest of them
        Bound bound;
        std::vector<PlannedRename> renames;  // B's items to spell as A does, before the transfer
        // What the transfer is kept away from as the look found it: the
        // plan's skips that the exclude file takes, and the spellings the
        // look could not tell apart.
        std::vector<SkippedFile> excluded;
    };

    OneWayRun(const OneWayEngine& engine, const SyncJob& job, const SyncPlan& plan,
              const std::filesystem::path& source, const std::filesystem::path& destination,
              const FileSystemTraits& traits, const std::string& runID, RunLogSink& log, std::stop_token stop,
              const ProgressHandler& onProgress, OneWayEngine::Basis* basis);

    std::pair<RunStats, RsyncExit> perform();

private:
    void prepare();
    Recovery recoverHeld();
    LastLook lookLast(bool putBack);
    std::pair<RunStats, RsyncExit> refused(std::string_view reason, const Recovery& recovery);
    void checkSides();
    SpellingAlignment::Aligned alignSpellings(const LastLook& look);
    // Records the copies in the plan where rsync writes its temporaries beside them.
    RsyncInvocation prepareTransfer(LastLook& look, const std::filesystem::path* excludeFile);
    RsyncExit transfer(const RsyncInvocation& invocation, const LastLook& look, TransferState& state);
    // What settling left held or gave back, in the lines that name it.
    struct Held {
        HoldingFolder::Settlement settlement;
        std::vector<std::string> lines;
        bool unseen = false;  // versions the plan never saw: a new review may help
    };
    Held settle(const HoldingFolder::Planned& planned, TransferState& state);
    std::pair<RunStats, RsyncExit> finish(TransferState& state, const RsyncExit& transferred, RsyncExit exit,
                                          const Held& held, const Recovery& recovery,
                                          const SpellingAlignment::Aligned& aligned);

    const OneWayEngine& engine_;
    const SyncJob& job_;
    const SyncPlan& plan_;
    const std::filesystem::path& source_;
    const std::filesystem::path& destination_;
    const FileSystemTraits& traits_;
    const std::string& runID_;
    RunLogSink& log_;
    std::stop_token stop_;
    const ProgressHandler& onProgress_;
    OneWayEngine::Basis* basis_;

    const bool mirror_;
    const bool archiving_;

    // Both sides, held once checked: every step that reads or writes a side
    // reaches it through this, so that nothing done to the sides' paths
    // meanwhile (a rename, a link retargeted) sends a step elsewhere.
    std::optional<EndpointCheck::Held> held_;
    const std::filesystem::path& heldA() const { return held_->path(Side::a); }
    const std::filesystem::path& heldB() const { return held_->path(Side::b); }
};

}  // namespace kelto
