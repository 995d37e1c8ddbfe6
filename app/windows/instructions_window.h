// The instructions window TForm2: the user manual in one editable memo. Created
// hidden with the main window, shown by "软件使用说明", hidden again by closing.
#pragma once

#include <QStringList>
#include <QWidget>

class QPlainTextEdit;

namespace quavella {

/// The author's e-mail address listed in the manual.
inline constexpr const char* kAuthorEmail = "author@quavella.example.org";

/// The manual's 30 lines, in order.
QStringList manual_lines();

/// The instructions window.
class TForm2 : public QWidget {
    Q_OBJECT

public:
    explicit TForm2(QWidget* parent = nullptr);

    /// Shows the window without making it modal and brings it to the front.
    void showInFront();

protected:
    void showEvent(QShowEvent* event) override;
    /// Escape closes (hides) the window, as it does a dialog.
    void keyPressEvent(QKeyEvent* event) override;

private:
    QPlainTextEdit* suiMemo1;
    bool placed_ = false;
};

}  // namespace quavella
