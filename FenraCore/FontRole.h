#pragma once

namespace kelto {

// The text styles of the kit, largest first.
enum class FontRole { largeTitle, title, title2, title3, headline, body, callout, subheadline, footnote, caption, caption2 };

}  // namespace kelto
