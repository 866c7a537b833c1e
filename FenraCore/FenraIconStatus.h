#pragma once

#include "FenraCore/FenraColor.h"
#include "FenraCore/FenraIcon.h"

namespace kelto {

enum class FenraIconStatus { success, warning, error, info };

namespace FenraIconStatuses {
FenraIcon icon(FenraIconStatus status);
// The theme colour of the same name.
const FenraColor& color(FenraIconStatus status);
}  // namespace FenraIconStatuses

}  // namespace kelto
