#pragma once

#include <QString>

#include <stdexcept>

namespace kelto {

// Why the desktop portal did not open a file; what() says so, with the
// D-Bus error's or the system's message where there is one.
class PortalOpenRequestError : public std::runtime_error {
public:
    enum class Code { unavailable, unopenable, refused, cancelled, noAnswer };

    explicit PortalOpenRequestError(Code code, const QString& detail = {});

    Code code() const { return code_; }

private:
    Code code_;
};

}  // namespace kelto
