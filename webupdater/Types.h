#pragma once

#include "http/ProxyParams.h"
#include "ui/Graphics.h"

#include <QString>

#include <cstdint>
#include <functional>

namespace zlt::webupdater {

class TZLTWebUpdater;

// The toolkit's colour and font describe the dialog's look.
using ui::TColor;
using ui::TFont;

enum class TUpdateMode : std::uint8_t { umAuto = 0, umManual = 1 };
enum class TFileTypeExt : std::uint8_t { tfeZip = 0, tfeExe = 1 };

using TFileName = QString;

// Events are bound callables; an empty one is unassigned and skipped. Sender is the component.
using TNotifyEvent = std::function<void(TZLTWebUpdater* Sender)>;
using TUpdateDownloadedEvent = std::function<void(TZLTWebUpdater* Sender, TFileName AFileName)>;
using TOnDownloadStarEvent = std::function<void(TZLTWebUpdater* Sender, std::int32_t AMax)>;
using TOnProgressEvent = std::function<void(TZLTWebUpdater* Sender, std::int32_t APosition)>;

// How much an entry of a run's record matters.
enum class TLogLevel : std::uint8_t { llInfo, llWarning, llError };
// The component's account of what it does, one line of text each: for a host that keeps a
// record of its runs. The component itself writes no files.
using TOnLogEvent = std::function<void(TZLTWebUpdater* Sender, TLogLevel ALevel, const QString& AText)>;

// The proxy settings record is the HTTP client's own.
using http::TkvProxyParams;

// The persistent-object base: Assign asks the source to copy itself through AssignTo, and the
// base AssignTo refuses with EConvertError.
class TPersistent {
public:
    virtual ~TPersistent();
    virtual void Assign(const TPersistent* ASource);
    virtual QString ClassName() const;

protected:
    virtual void AssignTo(TPersistent* ADest) const;
    [[noreturn]] void AssignError(const TPersistent* ASource) const;
};

// The look of the component's default progress dialog. Holds its three fonts for its whole
// life; they are changed in place, never replaced. Copying one options object into another
// is not supported (Assign raises EConvertError and changes nothing).
class TkvDialogOptions : public TPersistent {
public:
    TkvDialogOptions() = default;
    TkvDialogOptions(const TkvDialogOptions&) = delete;
    TkvDialogOptions& operator=(const TkvDialogOptions&) = delete;

    void Assign(const TPersistent* ASource) override;
    QString ClassName() const override;

    const TFileName& PPicture() const { return FPicture; }
    TColor PDialogColor() const { return FDialogColor; }
    const QString& PProgressCaption() const { return FlblProgressCaption; }
    const QString& PTitleCaption() const { return FlblTitleCaption; }
    const QString& PCheckingCaption() const { return FlblCheckingCaption; }
    // The fonts themselves: a host may change them in place.
    TFont& PProgressLabelFont() { return FlblProgressFont; }
    TFont& PTitleLabelFont() { return FlblTitleFont; }
    TFont& PCheckingLabelFont() { return FlblCheckingFont; }
    const TFont& PProgressLabelFont() const { return FlblProgressFont; }
    const TFont& PTitleLabelFont() const { return FlblTitleFont; }
    const TFont& PCheckingLabelFont() const { return FlblCheckingFont; }

    // The writers; the font writers copy the attributes and keep no reference to AValue.
    virtual void SetPPicture(const TFileName& AValue);
    virtual void SetPDialogColor(TColor AValue);
    virtual void SetPProgressLabelFont(const TFont& AValue);
    virtual void SetPTitleLabelFont(const TFont& AValue);
    virtual void SetPCheckingLabelFont(const TFont& AValue);
    virtual void SetPProgressCaption(const QString& AValue);
    virtual void SetPTitleCaption(const QString& AValue);
    virtual void SetPCheckingCaption(const QString& AValue);

private:
    TFileName FPicture;
    TColor FDialogColor = ui::clBtnFace;
    TFont FlblProgressFont;
    TFont FlblTitleFont;
    TFont FlblCheckingFont;
    QString FlblProgressCaption;
    QString FlblTitleCaption;
    QString FlblCheckingCaption;
};

} // namespace zlt::webupdater
