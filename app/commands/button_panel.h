// The main window's buttons whose states the commands change.
// Qt-free, so the commands run in tests with fakes.
#pragma once

namespace quavella {

/// The numbers of the buttons whose states the commands change, as in their
/// names suiButton1 to suiButton5.
inline constexpr int kComposeButton = 1;  ///< "生成主旋律"
inline constexpr int kPlayButton = 2;     ///< "播放"
inline constexpr int kPauseButton = 3;    ///< "暂停"
inline constexpr int kStopButton = 4;     ///< "停止"
inline constexpr int kSaveAsButton = 5;   ///< "主旋律另存为"

/// The five buttons whose states the commands change (suiButton1 to suiButton5).
class ButtonPanel {
public:
    virtual ~ButtonPanel() = default;
    /// @param button kComposeButton to kSaveAsButton, the number in the button's name.
    virtual void set_enabled(int button, bool enabled) = 0;
};

}  // namespace quavella
