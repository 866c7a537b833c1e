#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>

namespace kelto::test {

// A folder of stand-in programs, to put on PATH. Each records the arguments
// it was started with, in the order of the starts, and prints a set text.
class FakePrograms {
public:
    struct Start {
        QString program;
        QStringList arguments;
    };

    FakePrograms();
    ~FakePrograms();
    FakePrograms(const FakePrograms&) = delete;
    FakePrograms& operator=(const FakePrograms&) = delete;

    const QString& folder() const { return folder_; }
    // Makes the program, which ends with `status`, and returns its path.
    QString add(const QString& name, const QByteArray& output = {}, int status = 0);
    // The next start recorded, or none once `timeoutMs` passed without one.
    std::optional<Start> next(int timeoutMs = 10'000);

private:
    std::optional<Start> parse();

    QTemporaryDir dir_;
    QString folder_;
    int fifo_ = -1;
    QByteArray pending_;
};

}  // namespace kelto::test
