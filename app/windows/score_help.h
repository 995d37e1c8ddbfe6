// The score window's help "乐谱帮助" (F1): what the score shows, its signs and tone marks,
// how 字调契合 is counted, 择优作曲 and 按句择优, shaping the melody, 作品记录, the exports
// and the keys, in Chinese. Escape closes it.
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

    /// The size it opens with, and the narrowest it may be made to fit beside the windows.
    static constexpr int kWidth = 520;
    static constexpr int kHeight = 560;
    static constexpr int kMinimumWidth = 380;
};

}  // namespace quavella
