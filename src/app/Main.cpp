#include "app/Application.h"
#include "app/Dialogs.h"
#include "app/DllErr.h"
#include "app/MainDlg.h"
#include "drivers/BuiltinDrivers.h"
#include "engine/VirtualLink.h"
#include "platform/PortDriver.h"
#include "transfers/Transfers.h"

#include <QCoreApplication>
#include <QDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <exception>

using namespace lodestrum;

namespace {

// Installed data first relative to the program (a moved install still finds
// its help), then where it was configured to go.
std::vector<std::string> HelpFolders() {
    const QString bin = QCoreApplication::applicationDirPath();
    return {QDir(bin).filePath(QStringLiteral("../share/lodestrum")).toStdString(),
            LODESTRUM_DATADIR};
}

int Run(int argc, char** argv) {
    drivers::RegisterBuiltinDrivers();
    const std::string driverName = platform::DriverNameFromEnvironment();
    std::string reason;
    std::unique_ptr<platform::PortDriver> driver =
        platform::DriverRegistry::Instance().Create(driverName, reason);
    const std::string commandLine = app::CommandLinePath(argc, argv);

    // Lets scripted runs and tests go through every box without a click.
    const char* autoOk = std::getenv("LODESTRUM_AUTO_OK");
    const bool autoAnswer = autoOk && *autoOk == '1';

    app::Application application(argc, argv);
    auto prompts = std::make_shared<app::QtDialogs>(autoAnswer);
    application.SetPrompts(prompts);

    if (!driver) {
        std::fprintf(stderr, "lodestrum: port driver \"%s\" not loaded: %s\n", driverName.c_str(),
                     reason.empty() ? "unknown driver" : reason.c_str());
        app::TDllErrDlg DllErrDlg;
        if (autoAnswer) QTimer::singleShot(0, &DllErrDlg, &QDialog::accept);
        DllErrDlg.exec();
        return 0;
    }

    // Only now, with a driver, does anything of the virtual link exist.
    engine::VirtualLink link;
    std::string linkError;
    if (!link.Start(linkError))
        std::fprintf(stderr, "lodestrum: no virtual link: %s\n", linkError.c_str());

    app::WindowSetup setup;
    setup.Driver = driver.get();
    setup.Virtual = &link;
    setup.Link = &link;
    setup.Transfers = &transfers::DefaultTransfers();
    setup.Prompts = prompts;
    setup.CommandLinePath = commandLine;
    setup.HelpFolders = HelpFolders();

    std::unique_ptr<app::TTranDlg> TranDlg;
    try {
        TranDlg = std::make_unique<app::TTranDlg>(setup);
    } catch (const std::exception& e) {
        prompts->StandardError(nullptr, QString::fromUtf8(e.what()));
        app::ShutDown(TranDlg, driver, &link);
        return 0;
    }
    QObject::connect(TranDlg.get(), &app::TTranDlg::ApplicationTerminated, &application,
                     &QCoreApplication::quit, Qt::QueuedConnection);
    TranDlg->show();
    TranDlg->FormCreate();
    application.exec();
    app::ShutDown(TranDlg, driver, &link);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    try {
        Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lodestrum: %s\n", e.what());
    }
    return 0;
}
