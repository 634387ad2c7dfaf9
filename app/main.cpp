// orvaline: the desktop application. It takes no arguments; "--version"
// alone prints the version and exits before any window or display is opened.
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
    return application.exec();
}
