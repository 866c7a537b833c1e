#pragma once

namespace kelto {

// The role of a floating backdrop.
enum class FenraSurface { panel, hud, popover, toolbarCapsule };

}  // namespace kelto
