#pragma once

#include <stdexcept>
#include <string>

namespace kelto {

// A failure of the baseline database: SQLite's message at the moment of the
// failure, or one of the store's fixed texts.
class BaselineStoreError : public std::runtime_error {
public:
    explicit BaselineStoreError(const std::string& message) : std::runtime_error(message) {}
    std::string message() const { return what(); }

    static constexpr const char* cannotOpen = "Cannot open baseline";
    static constexpr const char* invalidKind = "Invalid baseline kind";
    // A row of a damaged file with a NULL key, or a size or time that is not
    // stored as an integer.
    static constexpr const char* invalidEntry = "Invalid baseline entry";

    // SQLite's own words name neither the file nor a way out: a damaged
    // baseline says both. Only damage gets the way out: a file that is whole
    // but out of reach may be the only record of what was deleted since the
    // last run, and moving it aside would bring those files back.
    static BaselineStoreError notADatabase(const std::string& file) {
        return BaselineStoreError("The baseline file " + file + " is not a baseline database." + wayOut);
    }
    // `reason`: SQLite's message, or the system's when the file cannot be looked at.
    static BaselineStoreError unusable(const std::string& file, const std::string& reason) {
        return BaselineStoreError("The baseline file " + file + " cannot be used (" + reason + ")." + wayOut);
    }

    // A baseline out of reach for now: named, kept as it is, no way out.
    // `reason`: SQLite's message, with the system's where it has one.
    static BaselineStoreError notPermitted(const std::string& file, const std::string& reason) {
        return BaselineStoreError("The baseline file " + file + " is not open to this user (" + reason +
                                  "): a run under another user may have made it." + kept +
                                  " Give this user access to it and run again.");
    }
    static BaselineStoreError locked(const std::string& file, const std::string& reason) {
        return BaselineStoreError("The baseline file " + file + " is locked by another process (" + reason + ")." +
                                  kept + " Run again once that process is done with it.");
    }
    static BaselineStoreError unreadable(const std::string& file, const std::string& reason) {
        return BaselineStoreError("The baseline file " + file + " could not be read or written (" + reason + ")." +
                                  kept + " Check its disk and run again.");
    }

    // A new baseline file that could not be made; nothing stands in its place.
    static BaselineStoreError notMade(const std::string& file, const std::string& reason) {
        return BaselineStoreError("The baseline file " + file + " could not be made (" + reason + ").");
    }

private:
    static constexpr const char* kept = " It is kept as it is.";
    static constexpr const char* wayOut =
        " Move it aside or remove it: the next run then starts a fresh baseline, copying what either side lacks, "
        "keeping the newer of two differing files and deleting nothing.";
};

}  // namespace kelto
