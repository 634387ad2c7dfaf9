#include "shell/application.h"

#include <QWidget>

namespace shell {

QString ShortenTitle(const QString& displayName) {
    QString title = displayName;
    if (!title.contains(QLatin1Char(' '))) {
        return title;
    }
    do {
        const qsizetype blank = title.lastIndexOf(QLatin1Char(' '));
        if (blank < 0) {
            break;
        }
        title = title.left(blank);
    } while (title.size() > 40);
    return title;
}

namespace {
QString& titleStore() {
    static QString title = QString::fromLatin1(kDisplayName);
    return title;
}
}  // namespace

void SetApplicationTitle(const QString& displayName) {
    titleStore() = ShortenTitle(displayName);
}

QString ApplicationTitle() {
    return titleStore();
}

void WindowPointer::set(int value) {
    m_value = value;
    if (m_window == nullptr) {
        return;
    }
    switch (value) {
        case kHourglass:
            m_window->setCursor(Qt::WaitCursor);
            break;
        case kCustom:
            if (m_hasCustom) {
                m_window->setCursor(m_custom);
            } else {
                m_window->unsetCursor();
            }
            break;
        default:
            m_window->unsetCursor();
            break;
    }
}

}  // namespace shell
