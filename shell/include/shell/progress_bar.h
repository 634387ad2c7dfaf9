#pragma once
// The progress bar control: a value from 0 to 100 and a text shown exactly as
// set (Qt's own format placeholders such as %p are not interpreted).

#include <QProgressBar>

namespace shell {

class ProgressBar : public QProgressBar {
    Q_OBJECT
public:
    explicit ProgressBar(QWidget* parent = nullptr);

    QString text() const override { return m_text; }
    void setText(const QString& text);

signals:
    // Emitted by every setText, even with an unchanged text.
    void textSet(const QString& text);

private:
    QString m_text;
};

}  // namespace shell
