// The error box of a failed contract check.
#include "app/windows/assertion_box.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>

namespace quavella {

void show_assertion_box(const std::string& report) {
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    QMessageBox::critical(nullptr, program, QString::fromStdString(report));
}

}  // namespace quavella
