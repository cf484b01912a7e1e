#pragma once

#include "config/FileList.h"
#include "results/UrlBuilder.h"

#include <QPlainTextEdit>
#include <QWidget>
#include <functional>

class QComboBox;
class QLabel;
class QPushButton;

namespace quaddle {

// The text box of URL lines. What is copied from it has CR LF between lines, as forums and
// editors on every system take it.
class TUrlMemo : public QPlainTextEdit {
    Q_OBJECT

public:
    using QPlainTextEdit::QPlainTextEdit;

protected:
    QMimeData* createMimeDataFromSelection() const override;
};

// What the success window needs from the main window.
struct TSuccessHost {
    // The URL lines in a style, built from the current server and directory.
    std::function<QStringList(TTagStyle)> Lines;
    std::function<void()> ShowMain;
    std::function<void()> HideMain;
    std::function<void()> CloseMain;
    std::function<void()> SaveConfig;
};

// "Upload succeeded": the URL lines of the last upload, ready to copy, in a chosen tag style,
// and the remote files that were renamed to make room. Closing it ends the program.
class TFormSuccess : public QWidget {
    Q_OBJECT

public:
    TFormSuccess(TSuccessHost host, QWidget* parent = nullptr);

    void ShowResults(const TRenamedFiles& renamed);
    void FillUrlList(TTagStyle style);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void Layout();

    TSuccessHost Host;
    QLabel* LInfo = nullptr;
    TUrlMemo* MemoURLs = nullptr;
    QLabel* LTags = nullptr;
    QComboBox* CTags = nullptr;
    QPushButton* BExit = nullptr;
};

} // namespace quaddle
