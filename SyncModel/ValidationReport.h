#pragma once

#include "SyncModel/Support/Json.h"

#include <vector>

namespace kelto {

// Blocking problems of a job definition, in the validator's order.
enum class ValidationIssue {
    emptyName,
    missingSource,
    missingDestination,
    samePath,
    nested,
    destinationReadOnly,
    twoWayReadOnly,
    retentionOutOfRange,
    intervalBelowMinimum,
    intervalTooLong,
};

// Findings that deserve attention but do not block a job.
enum class ValidationWarning {
    cloudFolder,
    caseSensitivityMismatch,
    libraryBundle,
    internalUnderVolumes,
};

template <>
struct EnumNames<ValidationIssue> {
    static constexpr std::array<std::string_view, 10> names{
        "emptyName",      "missingSource",       "missingDestination",    "samePath",
        "nested",         "destinationReadOnly", "twoWayReadOnly",        "retentionOutOfRange",
        "intervalBelowMinimum", "intervalTooLong"};
};

template <>
struct EnumNames<ValidationWarning> {
    static constexpr std::array<std::string_view, 4> names{"cloudFolder", "caseSensitivityMismatch", "libraryBundle",
                                                          "internalUnderVolumes"};
};

struct ValidationReport {
    std::vector<ValidationIssue> errors;
    std::vector<ValidationWarning> warnings;

    bool hasErrors() const { return !errors.empty(); }
    friend bool operator==(const ValidationReport&, const ValidationReport&) = default;
};

// Localisation keys of the editor: "validation." / "warning." plus the word.
std::string localizationKey(ValidationIssue issue);
std::string localizationKey(ValidationWarning warning);

}  // namespace kelto
