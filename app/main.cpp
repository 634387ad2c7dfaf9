// orvaline: the desktop application. It takes no arguments.
#include "app/form1.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Tremlow"));
    QCoreApplication::setApplicationName(QStringLiteral("Orvaline"));
    app::Form1 form;
    form.Form_Load();
    form.show();
    return application.exec();
}
