#include "FenraCore/FenraIconStatus.h"

#include "FenraCore/FenraTheme.h"

namespace kelto::FenraIconStatuses {

FenraIcon icon(FenraIconStatus status) {
    switch (status) {
    case FenraIconStatus::success: return FenraIcon::success;
    case FenraIconStatus::warning: return FenraIcon::warning;
    case FenraIconStatus::error: return FenraIcon::error;
    case FenraIconStatus::info: return FenraIcon::info;
    }
    return FenraIcon::info;
}

const FenraColor& color(FenraIconStatus status) {
    switch (status) {
    case FenraIconStatus::success: return FenraTheme::success();
    case FenraIconStatus::warning: return FenraTheme::warning();
    case FenraIconStatus::error: return FenraTheme::error();
    case FenraIconStatus::info: return FenraTheme::info();
    }
    return FenraTheme::info();
}

}  // namespace kelto::FenraIconStatuses
