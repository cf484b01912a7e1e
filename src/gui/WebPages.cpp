#include "gui/WebPages.h"

#include <QDesktopServices>
#include <QUrl>

namespace quaddle {

void openWebPage(const QString& url) {
    QDesktopServices::openUrl(QUrl(url));
}

} // namespace quaddle
