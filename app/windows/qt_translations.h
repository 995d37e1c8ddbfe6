// Qt's own texts (message box buttons, file dialogs, their filters) in Chinese: the
// program's start installs Qt's translation before any window is made.
#pragma once

class QCoreApplication;

namespace quavella {

/// Installs Qt's Simplified Chinese translation (qtbase_zh_CN from Qt's translation
/// folder) into `app`.
/// @return false when the translation is not installed; Qt's texts then stay English
bool install_qt_translations(QCoreApplication& app);

}  // namespace quavella
