#include "gui/FileExistsDialog.h"

#include "gui/WindowSupport.h"
#include "platform/AppInfo.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace quaddle {

namespace {

// The question wraps at this width, so the dialog stays compact.
constexpr int TextWidth = 428;

QPushButton* button(const char* name, QWidget* parent) {
    auto* button = new QPushButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    return button;
}

} // namespace

FileExistsDialog::FileExistsDialog(QWidget* parent) : QDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    m_whatLabel = new QLabel(this);
    m_whatLabel->setObjectName(QStringLiteral("whatLabel"));
    // No text here is markup; plain text keeps whatever ends up in it from being read as such.
    m_whatLabel->setTextFormat(Qt::PlainText);
    m_nameEdit = new QLineEdit(this);
    m_nameEdit->setObjectName(QStringLiteral("nameEdit"));
    m_nameEdit->setReadOnly(true);
    // The label says whether it is a file's or a folder's name.
    m_whatLabel->setBuddy(m_nameEdit);
    QPalette grey = m_nameEdit->palette();
    grey.setColor(QPalette::Base, grey.color(QPalette::Window));
    m_nameEdit->setPalette(grey);

    m_textLabel = new QLabel(this);
    m_textLabel->setObjectName(QStringLiteral("textLabel"));
    m_textLabel->setTextFormat(Qt::PlainText);
    m_textLabel->setWordWrap(true);

    m_buttonPanel = new QWidget(this);
    m_buttonPanel->setObjectName(QStringLiteral("buttonPanel"));
    m_rememberBox = new QCheckBox(tr("Re&member for this session"), m_buttonPanel);
    m_rememberBox->setObjectName(QStringLiteral("rememberBox"));
    m_renameButton = button("renameButton", m_buttonPanel);
    m_overwriteButton = button("overwriteButton", m_buttonPanel);
    m_skipButton = button("skipButton", m_buttonPanel);
    // Enter keeps the file on the server as it is: the answer that loses nothing.
    m_skipButton->setDefault(true);
    auto* buttons = new QHBoxLayout(m_buttonPanel);
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->addWidget(m_rememberBox);
    buttons->addStretch();
    for (QPushButton* answer : {m_renameButton, m_overwriteButton, m_skipButton})
        buttons->addWidget(answer);
    connect(m_renameButton, &QPushButton::clicked, this,
            [this] { answerWith(FileExistsChoice::Rename); });
    connect(m_overwriteButton, &QPushButton::clicked, this,
            [this] { answerWith(FileExistsChoice::Overwrite); });
    connect(m_skipButton, &QPushButton::clicked, this,
            [this] { answerWith(FileExistsChoice::Skip); });

    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(m_whatLabel);
    nameRow->addWidget(m_nameEdit, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(nameRow);
    layout->addWidget(m_textLabel);
    layout->addWidget(m_buttonPanel);
    // The window grows or shrinks to fit the wrapped question.
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void FileExistsDialog::setCentredOver(QWidget* window) {
    m_centreOver = window;
}

FileExistsAnswer FileExistsDialog::askFileExists(const QString& name) {
    ask(Mode::File, name);
    return m_answer;
}

MissingDirAnswer FileExistsDialog::askMissingDir(const QString& dir) {
    ask(Mode::Directory, dir);
    return m_answer.choice == FileExistsChoice::Overwrite ? MissingDirAnswer::Create
                                                          : MissingDirAnswer::Cancel;
}

void FileExistsDialog::ask(Mode mode, const QString& name) {
    setMode(mode, name);
    exec();
}

void FileExistsDialog::setMode(Mode mode, const QString& name) {
    const bool file = mode == Mode::File;
    setWindowTitle(file ? tr("File Exists") : tr("Directory Not Found"));
    m_whatLabel->setText(file ? tr("Filename:") : tr("Directory:"));
    m_nameEdit->setText(name);
    m_nameEdit->setCursorPosition(0);
    m_textLabel->setText(
        file ? tr("A file you are trying to upload already exists on the server. You can either "
                  "skip this upload, rename the old file to make space for the new one or "
                  "overwrite the old file with the new one. What do you want to do?")
             : tr("The directory you are trying to upload files to does not exist on the "
                  "server. ") +
                   AppName +
                   tr(" can try to create this directory for you, but this may fail for various "
                      "reasons. If you would rather create the folder yourself or choose another "
                      "one, you can cancel the upload here."));
    m_skipButton->setText(file ? tr("&Skip") : tr("C&ancel"));
    m_overwriteButton->setText(file ? tr("&Overwrite") : tr("&Create"));
    m_renameButton->setText(tr("&Rename"));
    m_renameButton->setVisible(file);
    m_rememberBox->setVisible(file);
    // As wide as the buttons below it, at least, and as tall as the text needs there: the
    // dialog's fixed size is taken from it.
    const int width = std::max(TextWidth, m_buttonPanel->sizeHint().width());
    m_textLabel->setFixedSize(width, m_textLabel->heightForWidth(width));
}

void FileExistsDialog::showEvent(QShowEvent* event) {
    m_answer = {};
    if (m_centreOver) {
        layout()->activate();
        move(m_centreOver->frameGeometry().center() - rect().center());
        placeOnScreen(*this);
    }
    QDialog::showEvent(event);
}

void FileExistsDialog::answerWith(FileExistsChoice choice) {
    m_answer = {choice, m_rememberBox->isVisible() && m_rememberBox->isChecked()};
    accept();
}

void FileExistsDialog::reject() {
    // Esc and the close box keep the answer the showing started with: skip, or cancel.
    done(Rejected);
}

} // namespace quaddle
