#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <optional>
#include <utility>
#include <vector>

namespace kelto::test {

// Sets environment variables for one test and puts back what was there.
class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
    ~ScopedEnvironment() {
        for (auto entry = saved_.rbegin(); entry != saved_.rend(); ++entry)
            entry->second ? qputenv(entry->first.constData(), *entry->second) : qunsetenv(entry->first.constData());
    }
    void set(const QByteArray& name, const QByteArray& value) { remember(name), qputenv(name.constData(), value); }
    void unset(const QByteArray& name) { remember(name), qunsetenv(name.constData()); }

private:
    void remember(const QByteArray& name) {
        const bool isSet = qEnvironmentVariableIsSet(name.constData());
        saved_.emplace_back(name, isSet ? std::optional(qgetenv(name.constData())) : std::nullopt);
    }
    std::vector<std::pair<QByteArray, std::optional<QByteArray>>> saved_;
};

}  // namespace kelto::test
