#include "gui/SuccessWindow.h"

#include "platform/ClipboardKeeper.h"

#include <QApplication>
#include <QBoxLayout>
#include <QClipboard>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QTextDocumentFragment>
#include <cstdio>

namespace quaddle {

namespace {

QString withCrLf(QString text) {
    return text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
}

} // namespace

void copyLines(const QStringList& lines) {
    QApplication::clipboard()->setText(lines.join(QLatin1String("\r\n")));
}

void keepCopiedText() {
    const QString platform = QGuiApplication::platformName();
    // Other platforms (offscreen) share no clipboard with other programs.
    const ClipboardSystem system = platform == QLatin1String("xcb") ? ClipboardSystem::X11
                                   : platform.startsWith(QLatin1String("wayland"))
                                       ? ClipboardSystem::Wayland
                                       : ClipboardSystem::None;
    QClipboard* const clipboard = QApplication::clipboard();
    if (system == ClipboardSystem::None || !clipboard->ownsClipboard())
        return;
    if (const std::optional<QString> problem = keepOnClipboard(clipboard->text(), system))
        std::fprintf(stderr, "quaddle: %s\n", qPrintable(*problem));
}

bool closeOnEscape(QWidget& window, const QKeyEvent& event) {
    if (event.key() != Qt::Key_Escape || event.modifiers() != Qt::NoModifier)
        return false;
    window.close();
    return true;
}

QComboBox* makeTagStyleBox(QWidget* parent) {
    auto* box = new QComboBox(parent);
    box->setObjectName(QStringLiteral("tagStyleBox"));
    // In TagStyle's order; the stored value is the place, so the words can say what each is.
    box->addItems({QStringLiteral("None"), QStringLiteral("[URL] — forum link"),
                   QStringLiteral("[IMG] — forum image"), QStringLiteral("<a> — web link"),
                   QStringLiteral("<img> — web image"), QStringLiteral("Markdown")});
    return box;
}

QMimeData* UrlTextEdit::createMimeDataFromSelection() const {
    auto* data = new QMimeData;
    data->setText(withCrLf(textCursor().selection().toPlainText()));
    return data;
}

SuccessWindow::SuccessWindow(SuccessWindowHost host, QWidget* parent)
    : QWidget(parent, Qt::Window), m_host(std::move(host)) {
    setWindowTitle(tr("Upload succeeded"));

    m_infoLabel = new QLabel(this);
    m_infoLabel->setObjectName(QStringLiteral("infoLabel"));
    // It lists remote file names, which must show as typed.
    m_infoLabel->setTextFormat(Qt::PlainText);
    m_infoLabel->setAutoFillBackground(true);
    // A notice in the desktop's own notice colours, readable on light and dark themes alike.
    m_infoLabel->setBackgroundRole(QPalette::ToolTipBase);
    m_infoLabel->setForegroundRole(QPalette::ToolTipText);
    m_infoLabel->setContentsMargins(0, 0, 0, 0);
    m_infoLabel->setFixedHeight(0);

    m_urlEdit = new UrlTextEdit(this);
    m_urlEdit->setObjectName(QStringLiteral("urlEdit"));
    m_urlEdit->setReadOnly(true);
    m_urlEdit->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_urlEdit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_urlEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_urlEdit->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_urlEdit->setPlainText(tr("<No URLs>"));
    m_urlEdit->setAccessibleName(tr("Uploaded addresses"));

    m_tagStyleLabel = new QLabel(tr("Add Tags:"), this);
    m_tagStyleLabel->setObjectName(QStringLiteral("tagStyleLabel"));
    m_tagStyleLabel->setTextFormat(Qt::PlainText);
    m_tagStyleBox = makeTagStyleBox(this);
    m_tagStyleLabel->setBuddy(m_tagStyleBox);
    connect(m_tagStyleBox, &QComboBox::activated, this, [this](int index) {
        m_host.storeStyle(TagStyle(index));
        fillUrlList(TagStyle(index));
    });

    m_copyButton = new QPushButton(tr("Copy"), this);
    m_copyButton->setObjectName(QStringLiteral("copyButton"));
    connect(m_copyButton, &QPushButton::clicked, this, &SuccessWindow::copyAllLines);

    m_copiedLabel = new QLabel(this);
    m_copiedLabel->setObjectName(QStringLiteral("copiedLabel"));
    m_copiedLabel->setTextFormat(Qt::PlainText);

    m_uploadMoreButton = new QPushButton(tr("Upload More"), this);
    m_uploadMoreButton->setObjectName(QStringLiteral("uploadMoreButton"));
    // The next upload is the likelier wish than leaving: Enter takes it.
    m_uploadMoreButton->setDefault(true);
    connect(m_uploadMoreButton, &QPushButton::clicked, this, &SuccessWindow::uploadMore);

    m_exitButton = new QPushButton(tr("Exit Quaddle"), this);
    m_exitButton->setObjectName(QStringLiteral("exitButton"));
    connect(m_exitButton, &QPushButton::clicked, this, &QWidget::close);

    // The URL box takes all the room the window gets; the controls stay in one row below it.
    auto* controls = new QHBoxLayout;
    controls->addWidget(m_tagStyleLabel);
    controls->addWidget(m_tagStyleBox);
    controls->addWidget(m_copyButton);
    controls->addWidget(m_copiedLabel);
    controls->addStretch();
    controls->addWidget(m_uploadMoreButton);
    controls->addWidget(m_exitButton);
    auto* body = new QVBoxLayout;
    body->setContentsMargins(8, 8, 8, 8);
    body->addWidget(m_urlEdit, 1);
    body->addLayout(controls);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_infoLabel);
    layout->addLayout(body, 1);

    setMinimumSize(QSize(400, 175).expandedTo(layout->minimumSize()));
    resize(QSize(592, 175).expandedTo(sizeHint()));
}

void SuccessWindow::showResults(const RenamedFiles& renamed) {
    QStringList lines;
    for (const RenamedFile& file : renamed)
        lines.append(QStringLiteral(" Renamed existing file ") + file.oldName +
                     QStringLiteral(" to ") + file.newName);
    m_infoLabel->setText(lines.join(QLatin1Char('\n')));
    m_infoLabel->setFixedHeight(lines.isEmpty() ? 0 : m_infoLabel->sizeHint().height());
    // The band comes on top of the text box, which keeps its height.
    resize(width(), height() + m_infoLabel->height());

    m_copiedLabel->clear();
    const TagStyle style = m_host.storedStyle();
    m_tagStyleBox->setCurrentIndex(int(style));
    m_host.hideMain();
    show();
    raise();
    activateWindow();
    fillUrlList(style);
    m_host.saveConfig();
}

void SuccessWindow::fillUrlList(TagStyle style) {
    m_urlEdit->setPlainText(m_host.lines(style).join(QLatin1Char('\n')));
    m_urlEdit->selectAll();
    m_urlEdit->setFocus();
}

void SuccessWindow::copyAllLines() {
    const QStringList lines = m_host.lines(TagStyle(m_tagStyleBox->currentIndex()));
    copyLines(lines);
    m_copiedLabel->setText(lines.size() == 1 ? tr("1 line copied")
                                             : tr("%1 lines copied").arg(lines.size()));
}

void SuccessWindow::uploadMore() {
    // Hidden, not closed: closing ends the program.
    hide();
    m_host.uploadMore();
}

void SuccessWindow::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    m_host.closeMain();
}

void SuccessWindow::keyPressEvent(QKeyEvent* event) {
    if (closeOnEscape(*this, *event))
        return;
    // A window is no dialog: its default button needs Enter passed to it.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier)
        m_uploadMoreButton->click();
    else
        QWidget::keyPressEvent(event);
}

void SuccessWindow::mouseDoubleClickEvent(QMouseEvent* event) {
    // Only the free background brings the main window back; the controls take their own.
    QWidget::mouseDoubleClickEvent(event);
    m_host.showMain();
}

} // namespace quaddle
