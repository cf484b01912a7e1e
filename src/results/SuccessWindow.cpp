#include "results/SuccessWindow.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QTextDocumentFragment>

namespace quaddle {

namespace {

constexpr int Gap = 8;

} // namespace

QMimeData* TUrlMemo::createMimeDataFromSelection() const {
    auto* data = new QMimeData;
    data->setText(
        textCursor().selection().toPlainText().replace(QLatin1Char('\n'), QLatin1String("\r\n")));
    return data;
}

TFormSuccess::TFormSuccess(TSuccessHost host, QWidget* parent)
    : QWidget(parent, Qt::Window), Host(std::move(host)) {
    setWindowTitle(tr("Upload succeeded"));
    QFont font = QApplication::font();
    font.setPointSize(8);
    setFont(font);
    setMinimumSize(400, 175);

    LInfo = new QLabel(this);
    LInfo->setObjectName(QStringLiteral("LInfo"));
    LInfo->setAutoFillBackground(true);
    QPalette yellow = LInfo->palette();
    yellow.setColor(QPalette::Window, QColor(255, 255, 128));
    LInfo->setPalette(yellow);
    LInfo->setContentsMargins(0, 0, 0, 0);
    LInfo->move(0, 0);

    MemoURLs = new TUrlMemo(this);
    MemoURLs->setObjectName(QStringLiteral("MemoURLs"));
    MemoURLs->setReadOnly(true);
    MemoURLs->setLineWrapMode(QPlainTextEdit::NoWrap);
    MemoURLs->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MemoURLs->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MemoURLs->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    QFont memoFont = font;
    memoFont.setPointSize(9);
    MemoURLs->setFont(memoFont);
    MemoURLs->setPlainText(tr("<No URLs>"));

    LTags = new QLabel(tr("Add Tags:"), this);
    LTags->setObjectName(QStringLiteral("LTags"));
    LTags->adjustSize();
    CTags = new QComboBox(this);
    CTags->setObjectName(QStringLiteral("CTags"));
    CTags->addItems({QStringLiteral("None"), QStringLiteral("[URL]"), QStringLiteral("[IMG]"),
                     QStringLiteral("<a>"), QStringLiteral("<img>")});
    CTags->setFixedWidth(81);
    connect(CTags, &QComboBox::activated, this,
            [this](int index) { FillUrlList(TTagStyle(index)); });

    BExit = new QPushButton(tr("Exit Quaddle"), this);
    BExit->setObjectName(QStringLiteral("BExit"));
    BExit->setFixedSize(81, 39);
    connect(BExit, &QPushButton::clicked, this, &QWidget::close);

    resize(592, 148);
}

void TFormSuccess::ShowResults(const TRenamedFiles& renamed) {
    QStringList lines;
    for (const TRenamedFile& file : renamed)
        lines.append(QStringLiteral(" Renamed existing file ") + file.OldName +
                     QStringLiteral(" to ") + file.NewName);
    LInfo->setText(lines.join(QLatin1Char('\n')));
    LInfo->setFixedHeight(lines.isEmpty() ? 0 : LInfo->sizeHint().height());
    // The band comes on top of the text box, which keeps its height.
    resize(width(), height() + LInfo->height());

    CTags->setCurrentIndex(0);
    Host.HideMain();
    show();
    raise();
    activateWindow();
    Layout();
    FillUrlList(TTagStyle::None);
    Host.SaveConfig();
}

void TFormSuccess::FillUrlList(TTagStyle style) {
    MemoURLs->setPlainText(Host.Lines(style).join(QLatin1Char('\n')));
    MemoURLs->selectAll();
    MemoURLs->setFocus();
}

void TFormSuccess::Layout() {
    const int clientWidth = width();
    const int clientHeight = height();
    const int exitLeft = clientWidth - BExit->width() - Gap;
    BExit->move(exitLeft, clientHeight - BExit->height() - Gap);
    LTags->move(exitLeft, LInfo->height() + Gap);
    CTags->move(exitLeft, LInfo->height() + LTags->height() + 12);
    LInfo->resize(clientWidth, LInfo->height());
    const int memoTop = LInfo->y() + LInfo->height() + Gap;
    MemoURLs->setGeometry(Gap, memoTop, exitLeft - Gap - Gap, clientHeight - memoTop - Gap);
}

void TFormSuccess::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Layout();
}

void TFormSuccess::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    Host.CloseMain();
}

void TFormSuccess::mouseDoubleClickEvent(QMouseEvent* event) {
    // Only the free background brings the main window back; the controls take their own.
    QWidget::mouseDoubleClickEvent(event);
    Host.ShowMain();
}

} // namespace quaddle
