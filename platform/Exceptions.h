#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

namespace zlt {

// The common exception of the system: every failure travels as one of these and carries its
// message. Guards catch this type only; other exception types pass through them untouched.
class Exception : public std::exception {
public:
    explicit Exception(QString AMessage);

    const QString& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FUtf8.constData(); }

private:
    QString FMessage;
    QByteArray FUtf8;
};

// A value could not be converted or assigned ("Cannot assign a %s to a %s").
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

} // namespace zlt
