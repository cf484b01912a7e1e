#pragma once

#include "config/FileList.h"
#include "results/UrlBuilder.h"

#include <QPlainTextEdit>
#include <QWidget>
#include <functional>

class QComboBox;
class QKeyEvent;
class QLabel;
class QPushButton;

namespace quaddle {

// The text box of URL lines. What is copied from it has CR LF between lines, as forums and
// editors on every system take it.
class UrlTextEdit : public QPlainTextEdit {
    Q_OBJECT

public:
    using QPlainTextEdit::QPlainTextEdit;

protected:
    QMimeData* createMimeDataFromSelection() const override;
};

// Puts the lines on the clipboard with CR LF between them, as the text box hands them out.
void copyLines(const QStringList& lines);
// A box offering the tag styles in TagStyle's order, named "tagStyleBox".
QComboBox* makeTagStyleBox(QWidget* parent);
// For a window's keyPressEvent: an Esc that no control of it took first (an open popup closes
// on its own) closes the window. False for any other key, which the window handles on.
bool closeOnEscape(QWidget& window, const QKeyEvent& event);
// Called as the program ends: what it put on the desktop's clipboard stays there after it.
void keepCopiedText();

// What the success window needs from the main window.
struct SuccessWindowHost {
    // The URL lines in a style, built from the current server and directory.
    std::function<QStringList(TagStyle)> lines;
    std::function<void()> showMain;
    // "Upload More": the main window comes back with an empty list, for the next files.
    std::function<void()> uploadMore;
    std::function<void()> hideMain;
    std::function<void()> closeMain;
    std::function<void()> saveConfig;
    // The style shown first, and where the user's choice is kept.
    std::function<TagStyle()> storedStyle;
    std::function<void(TagStyle)> storeStyle;
};

// "Upload succeeded": the URL lines of the last upload, ready to copy, in a chosen tag style,
// and the remote files that were renamed to make room. Closing it ends the program.
class SuccessWindow : public QWidget {
    Q_OBJECT

public:
    SuccessWindow(SuccessWindowHost host, QWidget* parent = nullptr);

    void showResults(const RenamedFiles& renamed);
    void fillUrlList(TagStyle style);
    void copyAllLines();
    void uploadMore();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    SuccessWindowHost m_host;
    QLabel* m_infoLabel = nullptr;
    UrlTextEdit* m_urlEdit = nullptr;
    QLabel* m_tagStyleLabel = nullptr;
    QComboBox* m_tagStyleBox = nullptr;
    QPushButton* m_copyButton = nullptr;
    QLabel* m_copiedLabel = nullptr;
    QPushButton* m_uploadMoreButton = nullptr;
    QPushButton* m_exitButton = nullptr;
};

} // namespace quaddle
