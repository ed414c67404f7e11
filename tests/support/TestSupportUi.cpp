// The test support's part for programs with windows: message boxes.

#include "tests/support/TestSupport.h"

namespace zlt::test {

TMessageBoxRecorder::TMessageBoxRecorder()
    : FPrevious(ui::SetMessageBoxSink([this](const QString& AText, const QString& ACaption, quint32 AFlags) {
          Boxes.push_back({AText, ACaption, AFlags});
          return ui::IDOK;
      })) {}

TMessageBoxRecorder::~TMessageBoxRecorder() { ui::SetMessageBoxSink(std::move(FPrevious)); }

} // namespace zlt::test
