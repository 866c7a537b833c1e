#include "Kelto_Sync/PlainToolTip.h"

#include <QTextDocument>

namespace kelto {

QString PlainToolTip::text(const QString& plain) {
    if (!Qt::mightBeRichText(plain)) return plain;
    return QStringLiteral("<p style='white-space:pre-wrap'>") + plain.toHtmlEscaped() + QStringLiteral("</p>");
}

}  // namespace kelto
