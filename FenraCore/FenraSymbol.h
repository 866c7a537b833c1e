#pragma once

#include <QString>

#include <concepts>

namespace kelto {

// A catalogue of icons: its values name the symbol artwork they draw. A
// catalogue adopts this by declaring `QString symbolName(T)` beside its type,
// where argument-dependent lookup finds it.
template <class T>
concept FenraSymbol = requires(const T& symbol) {
    { symbolName(symbol) } -> std::convertible_to<QString>;
};

// The symbol's name; for use where a member of the same name would hide the
// catalogue's function.
template <FenraSymbol T>
QString symbolNameOf(const T& symbol) {
    return symbolName(symbol);
}

}  // namespace kelto
