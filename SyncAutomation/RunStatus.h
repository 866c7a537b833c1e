#pragma once

#include "SyncEngine/SyncPlan.h"
#include "SyncEngine/SyncProgress.h"

#include <memory>
#include <variant>

namespace kelto {

// Where a job stands with the job runner. A job that is none of these is idle
// and has no status at all.
struct RunStatus {
    enum class Kind { running, awaitingConfirmation, queued };

    struct Running {
        SyncProgress progress;
        friend bool operator==(const Running&, const Running&) = default;
    };
    struct AwaitingConfirmation {
        // What the user is asked to review; never null. Shared, because the
        // whole status map is copied at every publication and a plan can
        // list every file of the tree.
        std::shared_ptr<const SyncPlan> plan;
        friend bool operator==(const AwaitingConfirmation& a, const AwaitingConfirmation& b) {
            return a.plan == b.plan || (a.plan && b.plan && *a.plan == *b.plan);
        }
    };
    struct Queued {
        friend bool operator==(const Queued&, const Queued&) = default;
    };

    std::variant<Running, AwaitingConfirmation, Queued> value;

    static RunStatus running(SyncProgress progress) { return RunStatus{Running{std::move(progress)}}; }
    static RunStatus awaitingConfirmation(SyncPlan plan) {
        return RunStatus{AwaitingConfirmation{std::make_shared<const SyncPlan>(std::move(plan))}};
    }
    static RunStatus queued() { return RunStatus{Queued{}}; }

    Kind kind() const { return static_cast<Kind>(value.index()); }
    template <class Case>
    const Case* as() const {
        return std::get_if<Case>(&value);
    }

    // Same case and, for running and awaiting confirmation, equal payloads.
    friend bool operator==(const RunStatus&, const RunStatus&) = default;
};

}  // namespace kelto
