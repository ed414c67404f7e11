#include "http/TlsHandler.h"

#include "http/Defaults.h"

namespace zlt::http {

TZLTSslHandler::TZLTSslHandler(QObject* AOwner) : TComponent(AOwner), CaFile(TZLTHttpDefaults::Instance().CaFile) {}

TZLTSslHandler::~TZLTSslHandler() = default;

void TZLTSslHandler::SetMethod(TSSLVersion AMethod) {
    FMethod = AMethod;
    FMin = AMethod;
    FMax = AMethod;
    FOpenEnded = false;
}

void TZLTSslHandler::SetSSLVersions(TSSLVersion AMin, TSSLVersion AMax) {
    FMin = AMin;
    FMax = AMax < AMin ? AMin : AMax;
    FOpenEnded = FMax == TSSLVersion::sslvTLSv1_3;
}

} // namespace zlt::http
