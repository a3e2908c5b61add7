// The desktop program: the splash, then one main window driven by its controller.
#include "app/Tolvik_Repair_MOVAppDelegate.h"
#include "app/bundle_info.h"
#include "app/main_window.h"
#include "app/ui_prompts.h"
#include "build_info.h"
#include "platform/pacing.h"
#include "platform/system_log.h"

#include <QApplication>
#include <QStyleFactory>

#include <cstdio>
#include <cstring>

namespace {

const char* const kUsage =
    "Usage: arbel-video-repair [--help | --version] [Qt options]\n"
    "\n"
    "Repairs damaged MOV, MP4, M4V and AVI recordings. Without options it opens\n"
    "the program's window; arbel-repair is the same repair on the command line.\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "  --version      show the version and exit\n";

// --help and --version answer before any window system is needed. Answers
// the exit code, or -1 to go on and open the window.
int answerInformationOptions(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (!std::strcmp(argv[i], "--version")) {
            std::printf("arbel-video-repair %s\n", arbel::build::kVersion);
            return 0;
        }
    }
    return -1;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (const int code = answerInformationOptions(argc, argv); code >= 0) return code;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Arbel Video Repair"));
    QApplication::setApplicationVersion(QString::fromLatin1(arbel::build::kVersion));
    QApplication::setDesktopFileName(QStringLiteral("com.arbelsoftware.ArbelVideoRepair"));
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) QApplication::setStyle(fusion);

    // A person reads each status, so every designed wait is kept.
    arbel::Pacing::setMode(arbel::Pacing::Mode::Designed);
    arbel::SystemLog::useSyslog("arbel-video-repair");

    arbel::Tolvik_Repair_MOVAppDelegate delegate(arbel::makeQtUiPrompts());
    delegate.readBundleIdentifier(delegate.infoPlistPath);
    delegate.applicationWillFinishLaunching();
    delegate.applicationDidFinishLaunching();
    return app.exec();
}
