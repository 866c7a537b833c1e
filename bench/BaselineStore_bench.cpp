// Saves and loads a baseline of 1,000,000 rows through BaselineStore and
// imports the same rows into the same schema with the sqlite3 command-line
// tool, printing the times and their ratios.
// Usage: BaselineStoreBench [rows] [folder for the database files]
#include "BenchSupport.h"

#include "SyncEngine/BaselineStore.h"

#include <cstdlib>
#include <filesystem>
#include <random>
#include <unistd.h>

using namespace kelto;
using namespace kelto::bench;
namespace fs = std::filesystem;

namespace {

Baseline makeBaseline(std::size_t rows) {
    std::mt19937_64 rng(7);
    Baseline::Builder builder;
    builder.reserve(rows, rows * 48);
    char buffer[128];
    for (std::size_t n = 0; n < rows; ++n) {
        const std::size_t folder = n / 100;
        if (n % 100 == 0) {
            std::snprintf(buffer, sizeof buffer, "Library %03zu/Album %03zu", folder / 100, folder % 100);
            builder.add(buffer, {EntryKind::directory, 0, 1'600'000'000});
            continue;
        }
        std::snprintf(buffer, sizeof buffer, "Library %03zu/Album %03zu/IMG_%07zu.JPG", folder / 100, folder % 100, n);
        builder.add(buffer, {EntryKind::file, static_cast<std::int64_t>(rng() % 10'000'000),
                             1'600'000'000 + static_cast<std::int64_t>(rng() % 100'000'000)});
    }
    return std::move(builder).build();
}

double run(const std::string& command) {
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(1);
    }
    return secondsSince(start);
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t rows = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1'000'000;
    const fs::path folder = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / ("kelto-baseline-bench-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);

    const Baseline baseline = makeBaseline(rows);

    // The store: a first save into a new file, a load, and a save over the old rows.
    double firstSave, load, replaceSave;
    {
        BaselineStore store(folder / "store.sqlite", false);
        auto start = std::chrono::steady_clock::now();
        store.save(baseline, "A-UUID", "B-UUID", SideCounts{static_cast<std::int64_t>(rows), static_cast<std::int64_t>(rows)});
        firstSave = secondsSince(start);
        start = std::chrono::steady_clock::now();
        const auto loaded = store.load("A-UUID", "B-UUID");
        load = secondsSince(start);
        if (!loaded || loaded->size() != baseline.size()) {
            std::fprintf(stderr, "load returned a different baseline\n");
            return 1;
        }
        start = std::chrono::steady_clock::now();
        store.save(baseline, "A-UUID", "B-UUID", SideCounts{1, 1});
        replaceSave = secondsSince(start);
    }

    // The command-line tool: the same rows as CSV, imported in one go into the same schema.
    const fs::path csv = folder / "rows.csv";
    {
        std::FILE* out = std::fopen(csv.c_str(), "w");
        for (const Baseline::Ref row : baseline)
            std::fprintf(out, "\"%.*s\",%d,%lld,%lld\n", static_cast<int>(row.key.size()), row.key.data(),
                         static_cast<int>(row.entry.kind), static_cast<long long>(row.entry.size),
                         static_cast<long long>(row.entry.mtime));
        std::fclose(out);
    }
    const std::string db = (folder / "cli.sqlite").string();
    run("sqlite3 '" + db + "' 'CREATE TABLE entries(key TEXT PRIMARY KEY, kind INT, size INT, mtime INT); "
        "CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT);'");
    const double import = run("sqlite3 -cmd '.mode csv' '" + db + "' '.import " + csv.string() + " entries'");
    const double select = run("sqlite3 '" + db + "' 'SELECT key, kind, size, mtime FROM entries' > /dev/null");

    std::printf("rows: %zu\n", baseline.size());
    std::printf("sqlite3 .import (one transaction): %.3f s\n", import);
    std::printf("sqlite3 SELECT of all rows to /dev/null: %.3f s\n", select);
    std::printf("BaselineStore::save into a new file: %.3f s (%.2f x import; goal <= 1.2)\n", firstSave, firstSave / import);
    std::printf("BaselineStore::save over the old rows: %.3f s (%.2f x import)\n", replaceSave, replaceSave / import);
    std::printf("BaselineStore::load: %.3f s (%.2f x import; goal <= 1.2)\n", load, load / import);
    fs::remove_all(folder);
    return 0;
}
