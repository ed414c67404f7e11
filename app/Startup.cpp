#include "app/Startup.h"

#include "app/MainWindow.h"
#include "app/RunSettings.h"
#include "common/Processes.h"
#include "platform/System.h"
#include "ui/Application.h"
#include "ui/Graphics.h"

#include <QApplication>
#include <QFileInfo>

#include <exception>

namespace zlt::app {

int RunStartup(int argc, char** argv) {
    platform::SetCommandLine(argc, argv);
    // Both checks come before the windowed application exists: a refused start shows nothing
    // and needs no display.
    const QString exeName = QFileInfo(platform::ExecutablePath()).fileName();
    if (CountProcess(exeName) > 1) return 0;
    if (platform::ParamCount() == 0) return 0;

    QStringList parameters;
    for (int index = 1; index <= platform::ParamCount(); ++index) parameters.append(platform::ParamStr(index));
    ParseParameters(parameters);

    // The toolkit gets the program's name alone: the parameters are ours, and an option the
    // toolkit would take for its own ("-platform", "-style") must neither change nor abort
    // the run. It keeps references to both for its whole life.
    int toolkitArgc = 1;
    char* toolkitArgv[] = {argv[0], nullptr};
    QApplication application(toolkitArgc, toolkitArgv);
    ui::LoadWindowsFonts();
    try {
        auto* window = new TfrmMainUpdater_();
        ui::Application().Own(window);
        ui::Application().SetMainForm(window);
        frmMainUpdater_ = window;
        window->show();
        QApplication::exec();
    } catch (const std::exception& error) {
        ui::Application().HandleException(error);
    }
    ui::Application().ReleaseOwned();
    return 0;
}

} // namespace zlt::app
