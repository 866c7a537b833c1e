#pragma once

// Two real folders, a job on them and an engine running the bundled rsync, or the runs a test scripts.

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncEngine/ArchiveRunID.h"
#include "SyncEngine/OneWayEngine.h"
#include "SyncEngine/RsyncLocator.h"
#include "SyncEngine/RsyncProcess.h"
#include "SyncModel/Support/FileIO.h"
#include "tests/support/MemoryLog.h"
#include "tests/support/NoMountOverlap.h"
#include "tests/support/RsyncLines.h"
#include "tests/support/ScriptedRsyncRunner.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/support/TestVolumes.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

namespace kelto::test {

namespace fs = std::filesystem;

using test::MemoryLog;
using Lines = std::vector<std::string>;
using Files = std::map<std::string, std::string>;

// A read error (a /proc file whose process ended) reads as what came before it.
inline std::string contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline FileSystemTraits traitsOf(std::string fileSystem, bool caseSensitive = false) {
    VolumeIdentity volume;
    volume.fileSystem = std::move(fileSystem);
    volume.caseSensitive = caseSensitive;
    return FileSystemTraits::forVolume(volume);
}
inline FileSystemTraits ext4Traits() { return traitsOf("ext4", true); }

inline bool contains(const Lines& lines, std::string_view line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

inline std::vector<std::string> sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

// Every item below the folder, the reserved folder left out, links not followed.
inline std::vector<std::string> entries(const fs::path& root) {
    std::vector<std::string> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        if (it->path().filename() == ".KeltoSync") {
            it.disable_recursion_pending();
            continue;
        }
        out.push_back(fs::relative(it->path(), root).native() + (it->is_directory() && !it->is_symlink() ? "/" : ""));
    }
    return sorted(out);
}

// Writes a file with a fixed old time, so equal content means unchanged.
inline void put(const fs::path& file, std::string_view content = "x") {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
    const timespec times[2] = {{1'600'000'000, 0}, {1'600'000'000, 0}};
    ::utimensat(AT_FDCWD, file.c_str(), times, 0);
}

inline void putFiles(const fs::path& root, const Files& files) {
    for (const auto& [path, content] : files) put(root / path, content);
}

inline SyncProgress phaseOnly(SyncPhase phase, std::int64_t scannedItems = 0) {
    SyncProgress p;
    p.phase = phase;
    p.scannedItems = scannedItems;
    return p;
}

template <class E, class F>
std::optional<E> thrown(F f) {
    try {
        f();
    } catch (const E& error) {
        return error;
    }
    return std::nullopt;
}

// The exit and its lines, which the run's errors repeat.
inline void expectExit(const std::pair<RunStats, RsyncExit>& result, std::int32_t code, const Lines& lines) {
    EXPECT_EQ(result.second, RsyncExit(code, lines));
    EXPECT_EQ(result.first.errors, lines);
}
inline void expectClean(const std::pair<RunStats, RsyncExit>& result) { expectExit(result, 0, {}); }
// Notes of earlier runs among the errors, which the exit's lines leave out.
inline void expectNamed(const std::pair<RunStats, RsyncExit>& result, std::int32_t code, const Lines& errors) {
    EXPECT_EQ(result.second.code, code);
    EXPECT_EQ(result.first.errors, errors);
}

class OneWayEngineTest : public ::testing::Test {
protected:
    TemporaryFolder tmp;
    fs::path src = tmp / "src";
    fs::path dst = tmp / "dst";
    SyncJob job;
    FileSystemTraits traits;
    RsyncProcess process{RsyncLocator::requireExecutable(KELTO_BUNDLE_DIR)};
    ScriptedRsyncRunner script{process};  // calls no scripted step takes run `process`
    OneWayEngine engine{script, test::noMountOverlap()};
    MemoryLog log;
    TestMounts mounts;  // undone before the folders go

    void SetUp() override {
        engine.listFolder = tmp / "state" / "job.lists";
        fs::create_directories(src);
        fs::create_directories(dst);
        job.id = Uuid::random();
        job.mode = SyncMode::mirror;
        traits = ext4Traits();
    }

    void TearDown() override { EXPECT_EQ(script.unusedSteps(), 0u) << "scripted rsync runs never happened"; }

    bool exfatB() {
        fs::create_directories(tmp / "exfat");
        if (!mounts.exfat(tmp / "exfat.img", tmp / "exfat")) return false;
        fs::create_directories(dst = tmp / "exfat/dst");
        traits = traitsOf("exfat");
        return true;
    }

    SyncPlan plan(std::vector<SyncProgress>* reports = nullptr) {
        return engine.plan(job, src, dst, traits, {}, [reports](const SyncProgress& p) {
            if (reports) reports->push_back(p);
        });
    }

    std::string runID = ArchiveRunID::make(SystemClock::shared().now());
    fs::path runFolder() const { return dst / ArchiveDirectories::runFolderRelativePath(job.id, runID); }

    std::pair<RunStats, RsyncExit> run(const SyncPlan& p, std::stop_token stop = {},
                                       const OneWayEngine::ProgressHandler& onProgress = nullptr) {
        return engine.run(job, p, src, dst, traits, runID, log, stop, onProgress);
    }

    void putBoth(const std::string& path, std::string_view content = "x") {
        put(src / path, content);
        put(dst / path, content);
    }
    // Empty sides, an empty log and a run id `later` seconds on: a table's next row.
    void fresh(int later = 0) {
        for (const fs::path& side : {src, dst}) {
            fs::remove_all(side);
            fs::create_directories(side);
        }
        log.lines.clear();
        nextRun(later);
    }
    void nextRun(int later) { runID = ArchiveRunID::make(SystemClock::shared().now().adding(later)); }
    std::string heldIn() const { return ".KeltoSync/Holding/" + runID; }
    std::string deleteLine(const std::string& folder) const {
        return "Delete " + (dst / folder).native() + " once you no longer need what it holds";
    }
    std::optional<OneWayEngineError> refusal(const SyncPlan& p) {
        return thrown<OneWayEngineError>([&] { run(p); });
    }

    template <class Items>
    static std::vector<std::string> pathsOf(const Items& items) {
        std::vector<std::string> out;
        for (const auto& item : items) out.push_back(item.path);
        return sorted(out);
    }
    static std::vector<std::string> copyPaths(const SyncPlan& p) { return pathsOf(p.copies); }
    static std::vector<std::string> archivePaths(const SyncPlan& p) { return pathsOf(p.archives); }
};

}  // namespace kelto::test
