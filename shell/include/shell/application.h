#pragma once
// The application's display name, title and the window's pointer state.

#include <QCursor>
#include <QString>

class QWidget;

namespace shell {

inline constexpr const char* kDisplayName = "Orvaline";

// The display name shortened to its title: cut at the last blank at least
// once, then while longer than 40 characters. A name without a blank is its
// own title.
QString ShortenTitle(const QString& displayName);

// Sets the application title (the caption of message boxes that name none)
// from the display name.
void SetApplicationTitle(const QString& displayName = QString::fromLatin1(kDisplayName));
QString ApplicationTitle();

// The window's mouse pointer as its numeric value beside the Qt cursor.
class WindowPointer {
public:
    static constexpr int kDefault = 0;
    static constexpr int kHourglass = 11;
    static constexpr int kCustom = 99;

    explicit WindowPointer(QWidget* window) : m_window(window) {}

    int value() const { return m_value; }
    bool busy() const { return m_value == kHourglass; }
    void set(int value);
    // The image shown for pointer 99; without one, 99 looks like the default.
    void setCustomCursor(const QCursor& cursor) {
        m_custom = cursor;
        m_hasCustom = true;
    }
    bool hasCustomCursor() const { return m_hasCustom; }

private:
    QWidget* m_window;
    int m_value = kDefault;
    QCursor m_custom;
    bool m_hasCustom = false;
};

}  // namespace shell
