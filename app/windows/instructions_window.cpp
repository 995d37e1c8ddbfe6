// The instructions window and its manual text.
#include "app/windows/instructions_window.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScreen>
#include <QVBoxLayout>

#include "app/windows/main_window.h"
#include "app/windows/qt_platform.h"

namespace quavella {

QStringList manual_lines() {
    return {
        QString(),
        QStringLiteral("    "
                       "本软件完全不同于其他的音乐软件，它的理论依据是现代的序列主义作曲法。本软件"
                       "是经过作者潜心研究，历"),
        QStringLiteral("时三年开发而成。最大的特点是可以根据歌词生成曲子，具有上手快、简单易用、风"
                       "格多变的特点。可以用于作"),
        QStringLiteral("曲者培养乐感及辅助作曲。"),
        QStringLiteral("    "),
        QStringLiteral("    使用说明："),
        QStringLiteral("    一、歌曲整体风格设置"),
        QStringLiteral("    1、速度：分为慢、中、快。"),
        QStringLiteral("    "
                       "2、调式：七声调式、五声调式最为常用。六声调式1和六声调式2分别对应民族七声调"
                       "式中的变宫和变徵，不"),
        QStringLiteral("是很常用。"),
        QStringLiteral("    "
                       "3、音色：分别包括钢琴、八音盒、风琴、吉他、贝司、小提琴、弦乐组、小号、萨克"
                       "斯、短笛。以钢琴和吉"),
        QStringLiteral("他最为常用。"),
        QString(),
        QStringLiteral("    二、输入乐段歌词"),
        QStringLiteral("    "
                       "输入是最好一段一段输入，乐段歌词一般四句或八句为一段。标点符号必须要添加，"
                       "作为区分乐句的需要。如"),
        QStringLiteral("果乐段合适，可将乐段保存在别处，另输入下一乐段重新作曲，最后将各个乐段进行"
                       "合并修改。即可完成一首完"),
        QStringLiteral("整的曲子了。"),
        QString(),
        QStringLiteral("    三、各种按钮"),
        QStringLiteral("    "
                       "1、生成主旋律：输入乐段后，点击即可生成词的旋律。生成后即可播放，点击停止才"
                       "可再次生成主旋律。每"),
        QStringLiteral("次点击生成的主旋律都不相同。"),
        QStringLiteral("    2、播放、暂停、停止：试听时对曲子进行控制。"),
        QStringLiteral(
            "    3、主旋律另存为：将生成的乐曲另外存在一个地方，一般是你自设的工作目录。"),
        QString(),
        QStringLiteral("    "
                       "本软件是免费软件，欢迎大家使用，同时提出宝贵意见和建议。作者将继续完善，不"
                       "断推出新版本，以满足大"),
        QStringLiteral("家的需要。"),
        QStringLiteral("    网站：") + QString::fromUtf8(kWebAddress),
        QStringLiteral("    软件作者email：") + QString::fromUtf8(kAuthorEmail),
        QStringLiteral("    "),
        QString(),
    };
}

TForm2::TForm2(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("TForm2"));
    setWindowTitle(QStringLiteral("Quavella使用说明"));
    QFont base;
    base.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("WenQuanYi Micro Hei")});
    base.setPixelSize(11);
    setFont(base);
    resize(600, 434);

    // The frame's own title strip (29 pixels) above the memo, which follows the size.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* title = new QLabel(windowTitle(), this);
    title->setObjectName(QStringLiteral("titleStrip"));
    title->setFixedHeight(29);
    title->setIndent(8);
    QFont title_font = base;
    title_font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("WenQuanYi Micro Hei")});
    title_font.setBold(true);
    title->setFont(title_font);
    title->setStyleSheet(QStringLiteral("background: #1F4E9A; color: white;"));
    layout->addWidget(title);

    suiMemo1 = new QPlainTextEdit(this);
    suiMemo1->setObjectName(QStringLiteral("suiMemo1"));
    suiMemo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    suiMemo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    suiMemo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    suiMemo1->setStyleSheet(
        QStringLiteral("QPlainTextEdit { border: 1px solid black; background: #E8E8E8; }"));
    suiMemo1->setPlainText(manual_lines().join(QLatin1Char('\n')));
    layout->addWidget(suiMemo1);
}

void TForm2::showInFront() {
    show();
    raise();
    activateWindow();
}

void TForm2::showEvent(QShowEvent* event) {
    // Centred on the screen the first time only; later shows keep the user's place.
    if (!placed_) {
        placed_ = true;
        centreOnScreen(*this);
    }
    QWidget::showEvent(event);
}

void TForm2::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace quavella
