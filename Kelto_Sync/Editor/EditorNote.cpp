#include "Kelto_Sync/Editor/EditorNote.h"

#include "FenraCore/FenraFont.h"

#include <QLabel>

namespace kelto {

void EditorNote::apply(QLabel* label) {
    label->setFont(FenraFont::font(FontRole::caption));
    label->setWordWrap(true);
}

}  // namespace kelto
