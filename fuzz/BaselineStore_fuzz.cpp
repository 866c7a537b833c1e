// A baseline file holding any bytes (a damaged SQLite file, or none at all):
// opening and loading either throw BaselineStoreError or return, and loading
// changes nothing on disk. Read-only, the file keeps its bytes and nothing
// else appears, except the empty "-wal" and the "-shm" SQLite makes beside a
// file in WAL mode (the store never writes one); read-write, only opening may
// add the store's tables. A baseline that loads is sorted by key with each
// key once.
#include "SyncEngine/BaselineStore.h"
#include "SyncEngine/BaselineStoreError.h"
#include "fuzz/FuzzSupport.h"

#include <cstdint>
#include <optional>
#include <string>

using namespace kelto;
namespace fs = std::filesystem;

namespace {

void checkBaseline(const std::optional<Baseline>& baseline) {
    if (!baseline) return;
    std::optional<std::string> previous;
    for (const Baseline::Ref item : *baseline) {
        KELTO_FUZZ_CHECK(!previous || *previous < item.key);
        KELTO_FUZZ_CHECK(static_cast<int>(item.entry.kind) >= 0 && static_cast<int>(item.entry.kind) <= 3);
        previous = std::string(item.key);
    }
}

// Loads with the identities the seeds were saved with and with none.
void loadAll(BaselineStore& store) {
    const std::optional<std::string> none;
    for (const auto& [a, b] : {std::pair{none, none}, std::pair{std::optional<std::string>("A"), std::optional<std::string>("B")}}) {
        try {
            checkBaseline(store.load(a, b));
        } catch (const BaselineStoreError&) {
        }
    }
    try {
        (void)store.sideCounts();
    } catch (const BaselineStoreError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path& root = Fuzz::scratchFolder();
    Fuzz::clearFolder(root);
    const fs::path file = root / "baseline.sqlite";
    Fuzz::writeFile(file, std::string_view(reinterpret_cast<const char*>(data), size));
    const auto before = Fuzz::snapshot(root);

    {
        std::optional<BaselineStore> store;
        try {
            store.emplace(file, /*readOnly=*/true);
        } catch (const BaselineStoreError&) {
        }
        if (store) loadAll(*store);
    }
    auto after = Fuzz::snapshot(root);
    // Bytes 18 and 19 of the header (the read and write versions) are 2 in WAL mode.
    if (size > 19 && (data[18] == 2 || data[19] == 2)) {
        const auto wal = after.find("baseline.sqlite-wal");
        if (wal != after.end()) {
            KELTO_FUZZ_CHECK(wal->second == "file:");
            after.erase(wal);
        }
        after.erase("baseline.sqlite-shm");
        std::filesystem::remove(root / "baseline.sqlite-wal");
        std::filesystem::remove(root / "baseline.sqlite-shm");
    }
    KELTO_FUZZ_CHECK(after == before);

    {
        std::optional<BaselineStore> store;
        try {
            store.emplace(file, /*readOnly=*/false);
        } catch (const BaselineStoreError&) {
        }
        if (store) {
            const auto opened = Fuzz::readFile(file);
            loadAll(*store);
            KELTO_FUZZ_CHECK(Fuzz::readFile(file) == opened);
        }
    }
    return 0;
}
