#pragma once

namespace kelto {

// What the menu-bar picture tells: a run in progress and how far it is, all
// quiet, automatic runs paused, or something waiting for the user.
struct MenuBarIconState {
    enum class Case { progress, idle, paused, attention };

    Case kind = Case::idle;
    // The part of the run done, meant to lie from 0 to 1 (progress only).
    double fraction = 0;

    static MenuBarIconState progress(double fraction) { return {Case::progress, fraction}; }
    static MenuBarIconState idle() { return {Case::idle, 0}; }
    static MenuBarIconState paused() { return {Case::paused, 0}; }
    static MenuBarIconState attention() { return {Case::attention, 0}; }

    // Progress states compare their fractions as doubles, so one holding NaN
    // equals nothing, itself included.
    friend bool operator==(const MenuBarIconState& a, const MenuBarIconState& b) {
        if (a.kind != b.kind) {
            return false;
        }
        return a.kind != Case::progress || a.fraction == b.fraction;
    }
};

}  // namespace kelto
