#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

namespace quaddle::test {

// Collects the addresses the program asks the desktop to open (a URL handler for
// QDesktopServices::setUrlHandler).
class UrlRecorder : public QObject {
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl& url) { opened.append(url); }
};

} // namespace quaddle::test
