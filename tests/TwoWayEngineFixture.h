#pragma once

// Two real folders, a two-way job, its baseline and an engine on the bundled rsync or a script.

#include "SyncEngine/BaselineStore.h"
#include "SyncEngine/CancellationError.h"
#include "SyncEngine/TwoWayEngine.h"
#include "SyncEngine/TwoWayEngineError.h"
#include "tests/OneWayEngineFixture.h"
#include "tests/support/TestVolumes.h"

#include <functional>
#include <map>
#include <set>

namespace kelto::test {

constexpr std::int64_t t0 = 1'600'000'000;

// Entries below a folder but the reserved one: "dir/", "-> target", or what `leaf` makes of a file.
inline std::map<std::string, std::string> tree(const fs::path& root,
                                               std::string (*leaf)(const fs::path&) = contents) {
    std::map<std::string, std::string> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string relative = it->path().lexically_relative(root).native();
        if (relative.starts_with(".KeltoSync")) {
            it.disable_recursion_pending();
        } else {
            out[relative] = it->is_symlink()     ? "-> " + fs::read_symlink(it->path()).native()
                            : it->is_directory() ? "dir/"
                                                 : leaf(it->path());
        }
    }
    return out;
}

inline void putAt(const fs::path& file, std::string_view content, std::int64_t mtime, long nanoseconds = 0) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
    const timespec times[2] = {{mtime, nanoseconds}, {mtime, nanoseconds}};
    ::utimensat(AT_FDCWD, file.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

class TwoWayEngineTest : public ::testing::Test {
protected:
    TemporaryFolder tmp;
    fs::path a = tmp / "a", b = tmp / "b", baselineFile = tmp / "state" / "job.sqlite";
    SyncJob job;
    FileSystemTraits traits;
    fs::path realRsync = RsyncLocator::requireExecutable(KELTO_BUNDLE_DIR);
    RsyncProcess process{realRsync};
    ScriptedRsyncRunner script{process};  // calls no scripted step takes run `process`
    TwoWayEngine engine{script, test::noMountOverlap()};
    MemoryLog log;
    std::optional<std::string> uuidA = "A-UUID", uuidB = "B-UUID";
    std::string runID = ArchiveRunID::make(SystemClock::shared().now());
    void SetUp() override {
        engine.listFolder = tmp / "state" / "job.lists";
        job.id = Uuid::random();
        job.mode = SyncMode::twoWay;
        traits = ext4Traits();
        resetSides(true);
    }
    void TearDown() override { EXPECT_EQ(script.unusedSteps(), 0u) << "scripted rsync runs never happened"; }
    TwoWaySide sideA() const { return {a, traits, uuidA}; }
    TwoWaySide sideB(const FileSystemTraits* traitsB = nullptr) const {
        return {b, traitsB ? *traitsB : traits, uuidB};
    }
    static TwoWayEngine::ProgressHandler collect(std::vector<SyncProgress>* reports) {
        return [reports](const SyncProgress& p) {
            if (reports) reports->push_back(p);
        };
    }
    // With `basis`, the plan keeps there what a run on it may start from.
    std::pair<SyncPlan, TwoWayPlan> plan(std::vector<SyncProgress>* reports = nullptr,
                                         const FileSystemTraits* traitsB = nullptr,
                                         TwoWayEngine::Basis* basis = nullptr) {
        BaselineStore store(baselineFile, false);
        return engine.plan(job, sideA(), sideB(traitsB), store, {}, collect(reports), basis);
    }
    std::pair<RunStats, RsyncExit> run(const TwoWayPlan& p, std::stop_token stop = {},
                                       std::vector<SyncProgress>* reports = nullptr,
                                       TwoWayEngine::Basis* basis = nullptr) {
        BaselineStore store(baselineFile, false);
        return engine.run(job, p, sideA(), sideB(), store, runID, log, stop, collect(reports), basis);
    }
    // Under a fresh run identifier.
    std::pair<RunStats, RsyncExit> sync() {
        runID = ArchiveRunID::make(SystemClock::shared().now());
        return run(plan().second);
    }
    void startInStep(std::initializer_list<const char*> names) {
        for (const char* name : names) {
            putAt(a / name, "old", t0);
            putAt(b / name, "old", t0);
        }
        ASSERT_EQ(sync().second.code, 0);
    }
    std::optional<Baseline> storedBaseline() { return BaselineStore(baselineFile, true).load(uuidA, uuidB); }
    fs::path archiveOf(const fs::path& root) const {
        return root / ArchiveDirectories::runFolderRelativePath(job.id, runID);
    }
    void resetSides(bool archive) {
        job.options.archiveEnabled = archive;
        log.lines.clear();
        for (const fs::path& p : {a, b, baselineFile}) fs::remove_all(p);
        fs::create_directories(a);
        fs::create_directories(b);
    }

    std::optional<TestMounts> testMounts;  // undone before the folders go
};

}  // namespace kelto::test
