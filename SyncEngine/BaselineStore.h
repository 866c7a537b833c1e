#pragma once

#include "SyncEngine/Baseline.h"
#include "SyncEngine/BaselineStoreError.h"
#include "SyncEngine/SideCounts.h"
#include "SyncEngine/internal/SqliteDatabase.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>

namespace kelto {

// One job's two-way baseline in its own SQLite file, with the identities of
// the two sides it was taken on and their file counts. One connection for
// the store's life; every operation holds the store's lock throughout.
// Failures throw BaselineStoreError naming the file. Only damage (not a
// database, corrupt, of another layout, its record of the sides damaged)
// offers the way out of moving it aside; a file kept from this user, locked
// or failing with I/O errors is named and kept.
class BaselineStore {
public:
    // Read-only on a missing file opens an empty in-memory database, so the
    // baseline reads as absent and nothing is created on disk. Read-write
    // creates the parent folder (FileError), the file and the tables.
    BaselineStore(const std::filesystem::path& url, bool readOnly);
    BaselineStore(const BaselineStore&) = delete;
    BaselineStore& operator=(const BaselineStore&) = delete;

    // The stored baseline with its racy marks, or nullopt when none was
    // saved for these two side identities (absent identities are "none"). A baseline whose record of
    // the sides and counts is damaged is never read as none: it throws.
    std::optional<Baseline> load(const std::optional<std::string>& uuidA, const std::optional<std::string>& uuidB);

    // Replaces the whole content in one transaction. Stopping `stop` before the
    // commit throws CancellationError and leaves the previous content whole.
    // With `stored`, what the store holds now (as load() gave it, nothing
    // written since), only the entries that differ from it are written.
    void save(const Baseline& entries, const std::optional<std::string>& uuidA,
              const std::optional<std::string>& uuidB, SideCounts counts, std::stop_token stop = {},
              const Baseline* stored = nullptr);

    // Whether load() would find a baseline for these two side identities,
    // without reading its entries; throws where load() would. When it is,
    // sideCounts() gives the counts.
    bool isRecordedFor(const std::optional<std::string>& uuidA, const std::optional<std::string>& uuidB);

    // The stored file counts, or nullopt when absent or not decimal integers.
    std::optional<SideCounts> sideCounts();

private:
    using Meta = std::map<std::string, std::string, std::less<>>;

    // SQLite's answer (and the system's error number, 0 when none) as the
    // store's error; the one place that decides which failures are damage,
    // with the way out, and which keep the file.
    BaselineStoreError errorFor(int code, const std::string& message, int systemError) const;
    // Nothing a baseline could be in stands at the path (a folder, a looping link).
    bool holdsNoFile() const;
    [[noreturn]] void fail() const;
    // Opens `db` or throws what errorFor() makes of the failure.
    void open(SqliteDatabase& db, const std::string& path, int flags) const;
    // A new baseline file with its tables, made whole under another name.
    void createWhole(const std::filesystem::path& file) const;
    void execute(const char* sql);
    SqliteStatement prepare(const char* sql);
    Meta readMeta();
    // The racy marks into `builder`; unknown where none were ever saved.
    void readRacy(Baseline::Builder& builder);
    // What stands under the marks' name: "table", "view", or empty for nothing.
    std::string racyForm();
    // Whether the baseline is recorded for these sides. A record missing a
    // side or a count, or entries recorded for no sides, throws unusable.
    bool recordedFor(const Meta& meta, const std::optional<std::string>& uuidA,
                     const std::optional<std::string>& uuidB);
    void rollback() noexcept;

    const std::string file_;  // for messages
    std::mutex lock_;
    SqliteDatabase db_;
};

}  // namespace kelto
