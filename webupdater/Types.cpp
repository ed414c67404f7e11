#include "webupdater/Types.h"

#include "common/Errors.h"

namespace zlt::webupdater {

TPersistent::~TPersistent() = default;

void TPersistent::Assign(const TPersistent* ASource) {
    if (ASource == nullptr) AssignError(nullptr);
    ASource->AssignTo(this);
}

QString TPersistent::ClassName() const { return QStringLiteral("TPersistent"); }

void TPersistent::AssignTo(TPersistent* ADest) const { ADest->AssignError(this); }

void TPersistent::AssignError(const TPersistent* ASource) const {
    const QString sourceName = ASource != nullptr ? ASource->ClassName() : QStringLiteral("nil");
    throw EConvertError(QStringLiteral("Cannot assign a %1 to a %2").arg(sourceName, ClassName()));
}

void TkvDialogOptions::Assign(const TPersistent* ASource) { TPersistent::Assign(ASource); }

QString TkvDialogOptions::ClassName() const { return QStringLiteral("TkvDialogOptions"); }

void TkvDialogOptions::SetPPicture(const TFileName& AValue) { FPicture = AValue; }
void TkvDialogOptions::SetPDialogColor(TColor AValue) { FDialogColor = AValue; }
void TkvDialogOptions::SetPProgressLabelFont(const TFont& AValue) { FlblProgressFont.Assign(AValue); }
void TkvDialogOptions::SetPTitleLabelFont(const TFont& AValue) { FlblTitleFont.Assign(AValue); }
void TkvDialogOptions::SetPCheckingLabelFont(const TFont& AValue) { FlblCheckingFont.Assign(AValue); }
void TkvDialogOptions::SetPProgressCaption(const QString& AValue) { FlblProgressCaption = AValue; }
void TkvDialogOptions::SetPTitleCaption(const QString& AValue) { FlblTitleCaption = AValue; }
void TkvDialogOptions::SetPCheckingCaption(const QString& AValue) { FlblCheckingCaption = AValue; }

} // namespace zlt::webupdater
