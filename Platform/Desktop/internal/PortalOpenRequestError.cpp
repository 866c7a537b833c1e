#include "Platform/Desktop/internal/PortalOpenRequestError.h"

namespace kelto {
namespace {

std::string describe(PortalOpenRequestError::Code code, const QString& detail) {
    using Code = PortalOpenRequestError::Code;
    QString what;
    switch (code) {
        case Code::unavailable: what = QStringLiteral("The desktop portal cannot be reached"); break;
        case Code::unopenable: what = QStringLiteral("The file cannot be handed to the desktop portal"); break;
        case Code::refused: what = QStringLiteral("The desktop portal could not open it"); break;
        case Code::cancelled: what = QStringLiteral("The desktop portal's request was cancelled"); break;
        case Code::noAnswer: what = QStringLiteral("The desktop portal did not answer"); break;
    }
    if (!detail.isEmpty()) what += QStringLiteral(": ") + detail;
    return what.toStdString();
}

}  // namespace

PortalOpenRequestError::PortalOpenRequestError(Code code, const QString& detail)
    : std::runtime_error(describe(code, detail)), code_(code) {}

}  // namespace kelto
