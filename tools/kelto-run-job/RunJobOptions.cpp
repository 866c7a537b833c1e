#include "tools/kelto-run-job/RunJobOptions.h"

#include <string_view>
#include <vector>

namespace kelto {

namespace fs = std::filesystem;

namespace {

bool onOff(const std::string& option, const std::string& value, std::string_view on, std::string_view off) {
    if (value != on && value != off)
        throw std::invalid_argument(option + " takes " + std::string(on) + " or " + std::string(off));
    return value == on;
}

}  // namespace

RunJobOptions RunJobOptions::parse(int argc, const char* const* argv) {
    RunJobOptions o;
    std::vector<fs::path> folders;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::invalid_argument(option + " needs a value");
            return argv[++i];
        };
        if (option == "--mode") {
            const auto mode = enumFromName<SyncMode>(value());
            if (!mode) throw std::invalid_argument("unknown mode");
            o.mode = *mode;
        } else if (option == "--archive") {
            o.archive = onOff(option, value(), "on", "off");
        } else if (option == "--retention-days") {
            const std::string days = value();
            std::size_t used = 0;
            try {
                o.retentionDays = std::stoll(days, &used);
            } catch (const std::exception&) {
                used = 0;
            }
            // As the application allows: fewer days would prune the archive
            // the run has just filled.
            if (used == 0 || used != days.size() || *o.retentionDays < 1 || *o.retentionDays > 365)
                throw std::invalid_argument(option + " takes a number of days from 1 to 365");
        } else if (option == "--plan-only") {
            o.planOnly = true;
        } else if (option == "--confirm" || option == "--force") {
            o.confirm = true;
        } else if (option == "--list-plan") {
            o.listPlan = true;
        } else if (option == "--volume-a") {
            o.a.volumeUUID = value();
        } else if (option == "--volume-b") {
            o.b.volumeUUID = value();
        } else if (option == "--fs-type-a") {
            o.a.fileSystem = value();
        } else if (option == "--fs-type-b" || option == "--fs-type") {
            o.b.fileSystem = value();
        } else if (option == "--case-sensitive-a") {
            o.a.caseSensitive = onOff(option, value(), "yes", "no");
        } else if (option == "--case-sensitive-b") {
            o.b.caseSensitive = onOff(option, value(), "yes", "no");
        } else if (option == "--rsync") {
            o.rsync = value();
        } else if (option == "--print-rsync-args") {
            o.printArguments = true;
        } else if (option.starts_with("--")) {
            throw std::invalid_argument("unknown option " + option);
        } else {
            folders.push_back(fs::absolute(option).lexically_normal());
        }
    }
    if (folders.size() != 4) throw std::invalid_argument("four folders are needed");
    o.source = folders[0];
    o.destination = folders[1];
    o.supportFolder = folders[2];
    o.logFolder = folders[3];
    return o;
}

}  // namespace kelto
