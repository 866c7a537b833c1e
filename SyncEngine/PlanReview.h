#pragma once

#include "SyncEngine/PlannedArchive.h"
#include "SyncEngine/SyncPlan.h"

#include <string>
#include <vector>

namespace kelto {

// What a confirmed run may take from the folders: what the plan the user
// reviewed listed, in the version that plan saw, and no more. A run's
// takings are its plan's archives: every file it deletes, replaces or
// archives, on its side. Pure.
struct PlanReview {
    // How each side's file system tells names apart.
    struct Names {
        bool caseSensitiveA = true;
        bool caseSensitiveB = true;
    };

    // The takings of `plan` that `reviewed` did not list, in plan order. A
    // path is compared by its key on its side: its exact name where the file
    // system keeps names apart, its case-folded normal form C where it
    // ignores case (and so takes one item spelled twice for one taking),
    // unless `reviewed` or `plan` holds two spellings of that key: the side
    // keeps them apart after all, and each is its exact name. A listed path whose item `plan` saw in another
    // version than `reviewed` did (saved anew since the review, or seen by
    // `plan` only) is not reviewed: approval is for the version shown. One
    // that `plan` saw no version of is no more than reviewed: a run never
    // drops such an item for good.
    // Empty when `plan` takes the same or less.
    static std::vector<PlannedArchive> beyond(const SyncPlan& reviewed, const SyncPlan& plan, Names names);

    // Why a confirmed run stops for a new review: the first side, A before
    // B, with takings beyond the review, and how many. `taken` is not empty.
    static std::string reason(const std::vector<PlannedArchive>& taken);
};

}  // namespace kelto
