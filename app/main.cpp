// orvaline: the desktop application. "--version" alone prints the version
// and exits before any window or display is opened; files and folders named
// on the command line (a file manager's "Open with") are listed as if
// dropped on the list. Without arguments the window starts as it always has.
#include "app/form1.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("orvaline (Orvaline) " ORVALINE_VERSION);
        return 0;
    }
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Tremlow"));
    QCoreApplication::setApplicationName(QStringLiteral("Orvaline"));
    app::Form1 form;
    form.Form_Load();
    form.show();
    form.addStartPaths(QCoreApplication::arguments().mid(1));
    return application.exec();
}
