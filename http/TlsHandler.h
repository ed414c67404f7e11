#pragma once

#include "common/Component.h"

#include <QString>

#include <cstdint>

namespace zlt::http {

enum class TSSLVersion : std::uint8_t { sslvTLSv1 = 0, sslvTLSv1_1 = 1, sslvTLSv1_2 = 2, sslvTLSv1_3 = 3 };

// The TLS handler of a client. Certificates and host names are always verified. A new
// handler offers TLS 1.2 and newer; SetMethod(v) offers v only, SetSSLVersions any range.
class TZLTSslHandler : public TComponent {
public:
    explicit TZLTSslHandler(QObject* AOwner);
    ~TZLTSslHandler() override;

    TSSLVersion Method() const { return FMethod; }
    void SetMethod(TSSLVersion AMethod); // also limits the versions to AMethod alone
    // The lowest and highest version offered; a highest of TLS 1.3 means "and newer".
    void SetSSLVersions(TSSLVersion AMin, TSSLVersion AMax);
    TSSLVersion MinVersion() const { return FMin; }
    TSSLVersion MaxVersion() const { return FMax; }
    bool OpenEnded() const { return FOpenEnded; } // true: newer versions than MaxVersion too

    QString CaFile; // starts as TZLTHttpDefaults::CaFile

private:
    TSSLVersion FMethod = TSSLVersion::sslvTLSv1_2;
    TSSLVersion FMin = TSSLVersion::sslvTLSv1_2;
    TSSLVersion FMax = TSSLVersion::sslvTLSv1_3;
    bool FOpenEnded = true;
};

} // namespace zlt::http
