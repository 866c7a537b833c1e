#pragma once

namespace kelto {

enum class FenraIconGroup { actions, status, objects };

}  // namespace kelto
