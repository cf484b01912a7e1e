#include "platform/WebPages.h"

#include <QDesktopServices>
#include <QUrl>

namespace quaddle {

void OpenWebPage(const QString& url) {
    QDesktopServices::openUrl(QUrl(url));
}

} // namespace quaddle
