#include "FenraCore/FenraSurfaceGroup.h"

#include <QVBoxLayout>

namespace kelto {

FenraSurfaceGroup::FenraSurfaceGroup(double spacing, QWidget* content, QWidget* parent)
    : QWidget(parent), spacing_(spacing), content_(content) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content_);
}

}  // namespace kelto
