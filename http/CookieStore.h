#pragma once

#include "common/Component.h"

#include <memory>

namespace zlt::http {

// A cookie store that clients attached to it share: cookies set by a response of one go out
// with the next matching request of any of them.
class TZLTCookieManager : public TComponent {
public:
    explicit TZLTCookieManager(QObject* AOwner);
    ~TZLTCookieManager() override;
    void* Share() const; // the libcurl share handle, for the clients

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

} // namespace zlt::http
