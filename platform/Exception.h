#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

namespace zlt::platform {

// The common exception of the system: every failure travels as one of these and carries its
// message. Guards catch this type only; other exception types pass through them untouched.
// It lives here, at the lowest layer, because the operating-system services raise it too.
class Exception : public std::exception {
public:
    explicit Exception(QString AMessage);

    const QString& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FUtf8.constData(); }

private:
    QString FMessage;
    QByteArray FUtf8;
};

} // namespace zlt::platform
