#pragma once

namespace kelto {

// The appearance a widget is drawn in.
enum class ColorScheme { light, dark };

}  // namespace kelto
