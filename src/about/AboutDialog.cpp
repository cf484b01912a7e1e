#include "about/AboutDialog.h"

#include "platform/AppInfo.h"
#include "platform/WebPages.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace quaddle {

namespace {

const QStringList Donators{QStringLiteral("Anna Lindqvist"), QStringLiteral("Bernd Kowalski"),
                           QStringLiteral("Chiara Rossi"), QStringLiteral("Dmitri Volkov"),
                           QStringLiteral("Emma O'Brien")};

QLabel* linkLabel(const QString& text, const QString& url, const char* name, QWidget* parent) {
    auto* label =
        new QLabel(QStringLiteral("<a href=\"%1\">%2</a>").arg(url, text.toHtmlEscaped()), parent);
    label->setObjectName(QLatin1String(name));
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    QObject::connect(label, &QLabel::linkActivated, label, &openWebPage);
    return label;
}

} // namespace

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("About"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    auto* heading = new QLabel(AppName + QLatin1Char(' ') + AppVersion, this);
    heading->setObjectName(QStringLiteral("headingLabel"));
    QFont big = heading->font();
    big.setPointSize(big.pointSize() + 6);
    big.setBold(true);
    heading->setFont(big);

    auto* credit = new QLabel(tr("Built with Qt, nettle and libjpeg-turbo. Upload icon from the "
                                 "Qt standard icon set."),
                              this);
    credit->setObjectName(QStringLiteral("creditLabel"));
    credit->setWordWrap(true);

    auto* donators = new QListWidget(this);
    donators->setObjectName(QStringLiteral("donatorList"));
    donators->addItems(Donators);
    donators->setSelectionMode(QAbstractItemView::NoSelection);
    donators->setFocusPolicy(Qt::NoFocus);

    auto* close = new QPushButton(tr("OK"), this);
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(linkLabel(WebsiteURL, WebsiteURL, "LWebsite", this));
    layout->addWidget(linkLabel(AuthorMail, QStringLiteral("mailto:") + AuthorMail, "LMail", this));
    layout->addWidget(credit);
    layout->addWidget(new QLabel(tr("Thanks to everyone who donated:"), this));
    layout->addWidget(donators);
    layout->addWidget(close, 0, Qt::AlignRight);
    setFixedSize(320, 300);
}

} // namespace quaddle
