#include "about/AboutDialog.h"

#include "gui/WebPages.h"
#include "platform/AppInfo.h"

#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace quaddle {

namespace {

const QStringList Donators{QStringLiteral("Anna Lindqvist"), QStringLiteral("Bernd Kowalski"),
                           QStringLiteral("Chiara Rossi"), QStringLiteral("Dmitri Volkov"),
                           QStringLiteral("Emma O'Brien")};

// Wrapped at width, and as tall as that takes: the box's size is taken from it.
QLabel* wrapped(const QString& text, const char* name, QWidget* parent) {
    constexpr int Width = 296;
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setWordWrap(true);
    label->setFixedWidth(Width);
    label->setFixedHeight(label->heightForWidth(Width));
    return label;
}

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

    QLabel* credit = wrapped(tr("Built with Qt, nettle and libjpeg-turbo. Upload icon from the "
                                "Qt standard icon set."),
                             "creditLabel", this);

    auto* donators = new QListWidget(this);
    donators->setAccessibleName(tr("Donators"));
    donators->setObjectName(QStringLiteral("donatorList"));
    donators->addItems(Donators);
    donators->setSelectionMode(QAbstractItemView::NoSelection);
    donators->setFocusPolicy(Qt::NoFocus);

    QLabel* licence = wrapped(AppLicence, "licenceLabel", this);

    auto* aboutQt = new QPushButton(tr("About Qt"), this);
    aboutQt->setObjectName(QStringLiteral("aboutQtButton"));
    aboutQt->setAutoDefault(false);
    connect(aboutQt, &QPushButton::clicked, this, [this] { QMessageBox::aboutQt(this); });
    auto* close = new QPushButton(tr("OK"), this);
    close->setObjectName(QStringLiteral("okButton"));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(aboutQt);
    buttons->addStretch();
    buttons->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(linkLabel(WebsiteURL, WebsiteURL, "LWebsite", this));
    layout->addWidget(linkLabel(AuthorMail, QStringLiteral("mailto:") + AuthorMail, "LMail", this));
    layout->addWidget(credit);
    layout->addWidget(licence);
    layout->addWidget(new QLabel(tr("Thanks to everyone who donated:"), this));
    layout->addWidget(donators, 1);
    layout->addLayout(buttons);
    setMinimumSize(QSize(320, 300).expandedTo(layout->minimumSize()));
    resize(minimumSize().expandedTo(sizeHint()));
}

} // namespace quaddle
