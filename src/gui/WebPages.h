#pragma once

#include <QString>

namespace quaddle {

const QString WebsiteURL = QStringLiteral("https://quaddle.example.org/");
const QString AuthorMail = QStringLiteral("author@quaddle.example.org");

// Opens a page in the user's browser (or a mailto: address in the mail program) and does not
// wait; a failure, such as no browser, is not reported.
void openWebPage(const QString& url);

} // namespace quaddle
