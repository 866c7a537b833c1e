#pragma once

#include <QString>

namespace kelto {

// What one update check found. Nothing is ever downloaded or installed.
struct UpdateCheckResult {
    enum class Kind { noFeed, upToDate, available, failed };
    Kind kind = Kind::noFeed;
    // available: the feed's version and build and where to get it.
    QString version;
    QString build;
    QString link;
    // failed: why.
    QString error;

    static UpdateCheckResult noFeed() { return make(Kind::noFeed); }
    static UpdateCheckResult upToDate() { return make(Kind::upToDate); }
    static UpdateCheckResult available(QString version, QString build, QString link) {
        UpdateCheckResult result = make(Kind::available);
        result.version = std::move(version);
        result.build = std::move(build);
        result.link = std::move(link);
        return result;
    }
    static UpdateCheckResult failed(QString error) {
        UpdateCheckResult result = make(Kind::failed);
        result.error = std::move(error);
        return result;
    }

private:
    static UpdateCheckResult make(Kind kind) {
        UpdateCheckResult result;
        result.kind = kind;
        return result;
    }
};

}  // namespace kelto
