#include "upload/FileExistsDialog.h"

#include "platform/AppInfo.h"
#include "upload/UploadSession.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace quaddle {

namespace {

constexpr int ClientWidth = 444;
constexpr int TextWidth = 428;
constexpr int Margin = 8;

QPushButton* Button(const char* name, int left, QWidget* parent) {
    auto* button = new QPushButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(left, 0, 65, 20);
    button->setAutoDefault(false);
    return button;
}

} // namespace

TFormDialog::TFormDialog(QWidget* parent) : QDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    QFont font = QApplication::font();
    font.setPointSize(8);
    setFont(font);

    LWhat = new QLabel(this);
    LWhat->setObjectName(QStringLiteral("LWhat"));
    LWhat->setGeometry(Margin, 8, 70, 16);
    EditFilename = new QLineEdit(this);
    EditFilename->setObjectName(QStringLiteral("EditFilename"));
    EditFilename->setGeometry(79, 5, 357, 21);
    EditFilename->setReadOnly(true);
    QPalette grey = EditFilename->palette();
    grey.setColor(QPalette::Base, grey.color(QPalette::Window));
    EditFilename->setPalette(grey);

    LText = new QLabel(this);
    LText->setObjectName(QStringLiteral("LText"));
    LText->setWordWrap(true);
    LText->move(Margin, 40);

    PUnten = new QWidget(this);
    PUnten->setObjectName(QStringLiteral("PUnten"));
    PUnten->setGeometry(Margin, 97, TextWidth, 20);
    CRemember = new QCheckBox(tr("Remember for this session"), PUnten);
    CRemember->setObjectName(QStringLiteral("CRemember"));
    CRemember->setGeometry(0, 2, 180, 17);
    Button3 = Button("Button3", 221, PUnten);
    Button2 = Button("Button2", 292, PUnten);
    Button1 = Button("Button1", 363, PUnten);
    connect(Button3, &QPushButton::clicked, this, [this] { ButtonClick(PolicyRename); });
    connect(Button2, &QPushButton::clicked, this, [this] { ButtonClick(PolicyOverwrite); });
    connect(Button1, &QPushButton::clicked, this, [this] { ButtonClick(PolicySkip); });
}

int TFormDialog::Ask(TAskMode mode, const QString& name) {
    SetMode(mode, name);
    exec();
    return Answer;
}

void TFormDialog::SetMode(TAskMode mode, const QString& name) {
    const bool file = mode == TAskMode::File;
    setWindowTitle(file ? tr("File Exists") : tr("Directory Not Found"));
    LWhat->setText(file ? tr("Filename:") : tr("Directory:"));
    EditFilename->setText(name);
    EditFilename->setCursorPosition(0);
    LText->setText(
        file ? tr("A file you are trying to upload already exists on the server. You can either "
                  "skip this upload, rename the old file to make space for the new one or "
                  "overwrite the old file with the new one. What do you want to do?")
             : tr("The directory you are trying to upload files to does not exist on the "
                  "server. ") +
                   AppName +
                   tr(" can try to create this directory for you, but this may fail for various "
                      "reasons. If you would rather create the folder yourself or choose another "
                      "one, you can cancel the upload here."));
    Button1->setText(file ? tr("Skip") : tr("Cancel"));
    Button2->setText(file ? tr("Overwrite") : tr("Create"));
    Button3->setText(tr("Rename"));
    Button3->setVisible(file);
    CRemember->setVisible(file);
}

void TFormDialog::showEvent(QShowEvent* event) {
    Answer = PolicySkip;
    // The window grows or shrinks to fit the wrapped question.
    LText->resize(TextWidth, LText->heightForWidth(TextWidth));
    PUnten->move(Margin, LText->geometry().bottom() + 1 + Margin);
    setFixedSize(ClientWidth, PUnten->geometry().bottom() + 1 + Margin);
    QDialog::showEvent(event);
}

void TFormDialog::ButtonClick(int tag) {
    Answer = tag + (CRemember->isVisible() && CRemember->isChecked() ? RememberBit : 0);
    done(Answer);
}

void TFormDialog::reject() {
    // Esc and the close box keep the answer the showing started with: skip, or cancel.
    done(Answer);
}

} // namespace quaddle
