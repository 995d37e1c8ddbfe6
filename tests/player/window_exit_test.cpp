// The program's exit while the soundfont still loads in the background: the main window
// with the real FluidSynth player, closed through "退出" at once and destroyed, as main()
// does. A hang would leave the test to its time limit.
#include <QPushButton>
#include <QTest>
#include <memory>

#include "app/player/fluid_player.h"
#include "app/windows/main_window.h"

namespace quavella {

class WindowExitTest : public QObject {
    Q_OBJECT

private slots:
    void closingWhileTheSoundfontLoadsEndsAtOnce() {
        for (int delay_ms : {0, 30}) {
            auto player = std::make_unique<FluidPlayer>();
            player->preload();
            WindowServices services;
            services.player = std::move(player);
            auto form = std::make_unique<TForm1>(std::move(services));
            form->show();
            QTest::qWait(delay_ms);
            auto* exit_button = form->findChild<QPushButton*>(QStringLiteral("suiButton8"));
            QVERIFY(exit_button != nullptr);
            QTest::mouseClick(exit_button, Qt::LeftButton);
            QVERIFY(!form->isVisible());
            form.reset();  // the window closes its player; the services then delete it
        }
    }
};

}  // namespace quavella

QTEST_MAIN(quavella::WindowExitTest)
#include "window_exit_test.moc"
