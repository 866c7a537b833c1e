#pragma once

#include "FenraCore/BindingNotifier.h"

#include <utility>

namespace kelto {

// A value that a view reads and writes but does not own: its owner keeps it
// (as a member, usually) and hands a reference to the views that show it.
// Views hold it through a QPointer, so one that outlives the value stops
// reading it. Main thread only.
template <class T>
class Binding : public BindingNotifier {
public:
    explicit Binding(T initial = T{}) : value_(std::move(initial)) {}

    const T& get() const { return value_; }

    void set(T value) {
        const bool differs = !(value_ == value);
        value_ = std::move(value);
        if (differs) {
            emit changed();
        }
        emit written();
    }

private:
    T value_;
};

}  // namespace kelto
