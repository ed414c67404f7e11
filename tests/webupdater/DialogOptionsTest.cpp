#include "common/Errors.h"
#include "platform/Exception.h"
#include "tests/support/TestSupport.h"
#include "webupdater/ProgressDialog.h"
#include "webupdater/Types.h"

#include <QLabel>

#include <gtest/gtest.h>

namespace zlt::test {

using namespace zlt::webupdater;
using namespace zlt::ui;

namespace {

TEST(DialogOptions, StartsWithButtonFaceNoPictureAndEmptyCaptions) {
    const TkvDialogOptions options;
    EXPECT_EQ(options.PDialogColor(), 0xFF00000Fu);
    EXPECT_TRUE(options.PPicture().isEmpty());
    EXPECT_TRUE(options.PProgressCaption().isEmpty());
    EXPECT_TRUE(options.PTitleCaption().isEmpty());
    EXPECT_TRUE(options.PCheckingCaption().isEmpty());
}

TEST(DialogOptions, FontWritersCopyIntoTheOwnedFontAndKeepNoReference) {
    TkvDialogOptions options;
    const TFont* const owned = &options.PTitleLabelFont();
    TFont callers;
    callers.Name = QStringLiteral("Courier");
    callers.Height = -20;
    options.SetPTitleLabelFont(callers);
    callers.Height = -40; // the caller keeps changing its own font

    EXPECT_EQ(&options.PTitleLabelFont(), owned);
    EXPECT_EQ(options.PTitleLabelFont().Height, -20);
    EXPECT_EQ(options.PTitleLabelFont().Name, QStringLiteral("Courier"));
    // The other two fonts are separate objects and stay as they were.
    EXPECT_NE(&options.PProgressLabelFont(), owned);
    EXPECT_EQ(options.PProgressLabelFont().Height, TFont().Height);

    // A host may also change the owned font in place; the dialog shows the fonts the options hold.
    options.PCheckingLabelFont().Height = -9;
    TfrmUpdater dialog;
    dialog.PrepareForCheck(options);
    dialog.PrepareForDownload(options);
    EXPECT_EQ(Control<QLabel>(&dialog, "lblChecking")->font().pixelSize(), 9);
    EXPECT_EQ(Control<QLabel>(&dialog, "lblTitle")->font().pixelSize(), 20);
    EXPECT_EQ(Control<QLabel>(&dialog, "lblTitle")->font().family(), QStringLiteral("Courier"));
}

TEST(DialogOptions, AssignRefusesAnySourceAndLeavesTheTargetUnchanged) {
    struct TCase {
        const char* Name;
        bool WithSource;
        const char* Message;
    };
    const TCase cases[] = {
        {"another options object", true, "Cannot assign a TkvDialogOptions to a TkvDialogOptions"},
        {"no source", false, "Cannot assign a nil to a TkvDialogOptions"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TkvDialogOptions target;
        target.SetPTitleCaption(QStringLiteral("kept"));
        target.SetPDialogColor(0x123456);
        target.PTitleLabelFont().Height = -17;
        TkvDialogOptions source;
        source.SetPTitleCaption(QStringLiteral("other"));
        try {
            target.Assign(c.WithSource ? &source : nullptr);
            ADD_FAILURE() << "Assign did not raise";
        } catch (const EConvertError& error) {
            EXPECT_EQ(error.Message(), QString::fromLatin1(c.Message));
        }
        EXPECT_EQ(target.PTitleCaption(), QStringLiteral("kept"));
        EXPECT_EQ(target.PDialogColor(), 0x123456u);
        EXPECT_EQ(target.PTitleLabelFont().Height, -17);
    }
}

} // namespace
} // namespace zlt::test
