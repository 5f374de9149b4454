#pragma once

#include <QWidget>

class QTextBrowser;

namespace velmora {

// The help window: the HTML pages of the help folder in a browser with Back, Forward and
// Contents. It is a window of its own over the window that opened it, so that it can be used
// while that window is modal.
class THelpWindow : public QWidget {
    Q_OBJECT

public:
    THelpWindow(QString helpFolder, QWidget* owner);

    // Shows the page of a topic path ("::/Source\...\Page.htm") and raises the window.
    void showTopic(const QString& topic);
    QTextBrowser* browser() const { return m_browser; }

private:
    QString m_helpFolder;
    QTextBrowser* m_browser = nullptr;
};

}  // namespace velmora
