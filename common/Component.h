#pragma once

#include <QObject>
#include <QString>

namespace zlt {

// The component base: the owner is the Qt parent and releases what it owns, Name is the
// object name. A component is designing when its owner is: a host that stands for a form
// designer marks itself with SetDesigning before it creates its components.
class TComponent : public QObject {
public:
    explicit TComponent(QObject* AOwner);
    ~TComponent() override;

    QObject* Owner() const { return parent(); }
    QString Name() const { return objectName(); }
    void SetName(const QString& AName) { setObjectName(AName); }
    qintptr Tag() const { return FTag; }
    void SetTag(qintptr ATag) { FTag = ATag; }

    bool Designing() const;

    // Sent by the host once, after it has applied its stored settings to its components and
    // before its own creation handler runs.
    virtual void Loaded();

    static void SetDesigning(QObject* AHost, bool ADesigning);
    static bool IsDesigning(const QObject* AHost);

private:
    qintptr FTag = 0;
};

} // namespace zlt
