#pragma once

#include "FenraCore/FenraColor.h"

namespace kelto {

// The kit's named palette. Each colour is built on its first use, once, and
// kept for the life of the process.
struct FenraTheme {
    static const FenraColor& accent();
    // The accent's values, for a second accented role that may part from it.
    static const FenraColor& secondaryAccent();
    static const FenraColor& onAccent();
    static const FenraColor& tint();
    static const FenraColor& kelto();
    static const FenraColor& navy();
    static const FenraColor& coral();
    static const FenraColor& success();
    static const FenraColor& warning();
    static const FenraColor& error();
    static const FenraColor& info();
    static const FenraColor& destructive();
    static const FenraColor& background();
    static const FenraColor& surface();
    static const FenraColor& stroke();
    static const FenraColor& textPrimary();
    static const FenraColor& textSecondary();
    static const FenraColor& textTertiary();
};

}  // namespace kelto
