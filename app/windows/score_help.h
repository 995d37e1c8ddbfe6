// The score window's help "乐谱帮助" (F1): what the score shows, its signs and tone marks,
// how 字调契合 is counted, 择优作曲, 作品记录, the exports and the keys, in Chinese.
#pragma once

#include <QWidget>

namespace quavella {

class ScoreHelp : public QWidget {
    Q_OBJECT

public:
    /// A window of its own over `parent` (the score window).
    explicit ScoreHelp(QWidget* parent);

    /// The help text as HTML.
    static QString html();
};

}  // namespace quavella
