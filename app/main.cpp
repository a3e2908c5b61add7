// The desktop program: one main window driven by its controller.
#include "app/Tolvik_Repair_MOVAppDelegate.h"
#include "app/bundle_info.h"
#include "app/main_window.h"
#include "app/ui_prompts.h"
#include "build_info.h"
#include "platform/pacing.h"
#include "platform/system_log.h"

#include <QApplication>
#include <QStyleFactory>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Arbel Video Repair"));
    QApplication::setApplicationVersion(QString::fromLatin1(arbel::build::kVersion));
    QApplication::setDesktopFileName(QStringLiteral("com.arbelsoftware.ArbelVideoRepair"));
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) QApplication::setStyle(fusion);

    // A person reads each status, so every designed wait is kept.
    arbel::Pacing::setMode(arbel::Pacing::Mode::Designed);
    arbel::SystemLog::useSyslog("arbel-video-repair");

    arbel::Tolvik_Repair_MOVAppDelegate delegate(arbel::makeQtUiPrompts());
    delegate.applicationDidFinishLaunching();
    delegate.window()->show();
    delegate.readBundleIdentifier(
        arbel::locateResource(QCoreApplication::applicationDirPath().toStdString(), "Info.plist"));
    return app.exec();
}
