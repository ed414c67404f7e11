#include "common/Component.h"

#include <QVariant>

namespace zlt {

namespace {
constexpr const char* DesigningProperty = "zltDesigning";
}

TComponent::TComponent(QObject* AOwner) : QObject(AOwner) {}

TComponent::~TComponent() = default;

bool TComponent::Designing() const { return IsDesigning(parent()); }

void TComponent::Loaded() {}

void TComponent::SetDesigning(QObject* AHost, bool ADesigning) {
    if (AHost != nullptr) AHost->setProperty(DesigningProperty, ADesigning);
}

bool TComponent::IsDesigning(const QObject* AHost) {
    return AHost != nullptr && AHost->property(DesigningProperty).toBool();
}

} // namespace zlt
