// The jobs file and a run history holding any bytes: loading never writes
// (nothing in the folder changes), and appending to a history that does not
// decode throws and leaves every byte as it was. A history that decodes takes
// the appended record, still decodes afterwards, and its dropped runs' logs
// are removed only inside the log folder.
//
// "@LOGS@" in the input stands for the log folder's absolute path, so that
// inputs can name logs inside it, beside it ("@LOGS@/../outside.log") and
// through the link it holds.
#include "SyncModel/JobStore.h"
#include "SyncModel/RunHistoryStore.h"
#include "fuzz/FuzzSupport.h"

#include <algorithm>
#include <cstdint>
#include <string>

using namespace kelto;
namespace fs = std::filesystem;

namespace {

const Uuid jobID = *Uuid::parse("6F9619FF-8B86-D011-B42D-00C04FC964FF");
constexpr std::int64_t keep = 3;

std::string substituted(std::string bytes, const std::string& logs) {
    constexpr std::string_view marker = "@LOGS@";
    for (std::size_t at = bytes.find(marker); at != std::string::npos; at = bytes.find(marker, at + logs.size()))
        bytes.replace(at, marker.size(), logs);
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path& root = Fuzz::scratchFolder();
    Fuzz::clearFolder(root);
    const fs::path support = root / "support";
    const fs::path logs = root / "logs";
    fs::create_directories(support / "history");
    fs::create_directories(logs / "folder.log");
    Fuzz::writeFile(logs / "a.log", "a");
    Fuzz::writeFile(root / "outside.log", "outside");
    fs::create_symlink("../outside.log", logs / "link.log");

    const std::string bytes =
        substituted(std::string(reinterpret_cast<const char*>(data), size), logs.string());
    JobStore jobs(support / "jobs.json");
    RunHistoryStore histories(support / "history", logs);
    Fuzz::writeFile(jobs.fileURL, bytes);
    Fuzz::writeFile(histories.fileURL(jobID), bytes);
    const auto before = Fuzz::snapshot(root);

    try {
        (void)jobs.load();
    } catch (const DecodingError&) {
    } catch (const JobStoreError&) {
    }
    std::optional<std::vector<RunRecord>> stored;
    try {
        stored = histories.records(jobID);
    } catch (const DecodingError&) {
    }
    KELTO_FUZZ_CHECK(Fuzz::snapshot(root) == before);

    RunRecord record;
    record.id = *Uuid::parse("1B4E28BA-2FA1-11D2-883F-0016D3CCA427");
    record.jobID = jobID;
    record.trigger = RunTrigger::manual;
    record.startedAt = Date{786297600};
    record.endedAt = Date{786297601};
    record.outcome = RunOutcome::success();
    record.logPath = (logs / "new.log").string();

    if (!stored) {
        bool threw = false;
        try {
            histories.append(record, keep);
        } catch (const DecodingError&) {
            threw = true;
        }
        KELTO_FUZZ_CHECK(threw);
        KELTO_FUZZ_CHECK(Fuzz::snapshot(root) == before);
        return 0;
    }

    histories.append(record, keep);
    const std::vector<RunRecord> after = histories.records(jobID);
    KELTO_FUZZ_CHECK(after.size() == std::min<std::size_t>(stored->size() + 1, keep));
    // Whatever the records named, nothing outside the log folder went, and
    // neither did a folder inside it.
    KELTO_FUZZ_CHECK(Fuzz::readFile(root / "outside.log") == "outside");
    KELTO_FUZZ_CHECK(fs::is_directory(logs / "folder.log"));
    KELTO_FUZZ_CHECK(fs::is_regular_file(jobs.fileURL));
    return 0;
}
