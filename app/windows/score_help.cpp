// The score window's help.
#include "app/windows/score_help.h"

#include <QShortcut>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace quavella {

ScoreHelp::ScoreHelp(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("scoreHelp"));
    setWindowTitle(QStringLiteral("乐谱帮助"));
    auto* text = new QTextBrowser(this);
    text->setObjectName(QStringLiteral("helpText"));
    text->setHtml(html());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(text);
    setMinimumWidth(kMinimumWidth);
    resize(kWidth, kHeight);
    // Closed (hidden) by Escape, as the manual is.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
}

QString ScoreHelp::html() {
    return QStringLiteral(
        "<h3>乐谱</h3>"
        "<p>每次生成主旋律后，“乐谱”窗口以简谱显示这段旋律，每个音符下是它所唱的歌词字。"
        "谱头写着速度、调式、音色，调号（1=C）、拍号（4/4）和每分钟拍数（♩=）。</p>"
        "<ul>"
        "<li><b>1–7</b>：音级；<b>0</b>：休止。</li>"
        "<li>数字<b>上方的点</b>：高八度；<b>下方的点</b>：低八度。</li>"
        "<li>数字<b>下方的横线</b>：每一条使时值减半（八分音符一条，十六分音符两条）。</li>"
        "<li>数字<b>后的短横“–”</b>：延长一拍；<b>附点“·”</b>：延长一半时值。</li>"
        "<li><b>竖线</b>：小节线；连到下一小节的音用连音线连起。</li>"
        "<li>播放时，正在发声的音符以<b>黄色</b>标出。</li>"
        "</ul>"
        "<h3>字调符号</h3>"
        "<p>普通话每个字有声调。同一句中相邻两个字之间，旋律的走向（上行、下行或同音）"
        "与两个字的声调是否相合，在两字之间的下方标出：</p>"
        "<ul>"
        "<li><b>✓ 契合</b>：音程的走向与字调相合，唱出来字音清楚。</li>"
        "<li><b>○ 较契合</b>：大体相合。</li>"
        "<li><b>△ 尚可</b>：不太相合，但不至于听错字。</li>"
        "<li><b>✗ 倒字</b>：走向与字调相反，唱出来容易听成别的字。</li>"
        "</ul>"
        "<p>把鼠标停在符号上，可看到两个字的声调、音程（半音数）和评级。"
        "轻声字、句末字与下一句的首字之间不评级。</p>"
        "<p><b>字调契合</b>的百分数只计 ✓ 和 ○：它等于 ✓ 与 ○ 的对数除以评级的对数总数；"
        "△ 和 ✗ 都不计入。</p>"
        "<h3>择优作曲</h3>"
        "<p>“择优作曲”按旁边框中的数目（1 至 1000 首）作曲，"
        "选出字调契合最高的一首，作为主旋律放入播放器和乐谱。"
        "和“生成主旋律”一样，作曲期间它不可用。"
        "勾选<b>按句择优</b>（Ctrl+Shift+B）后，择优作曲逐句比较："
        "每一句取这一句最贴合字调的那一首中的旋律（先看倒字最少，再看契合最多），"
        "其余照第一首。</p>"
        "<h3>修改旋律</h3>"
        "<p>播放器中的旋律可以逐音修改，不必重新作曲。每次作曲之后，键盘就在乐谱上"
        "（乐谱四周有一圈高亮的边框），可以直接用方向键：</p>"
        "<ul>"
        "<li><b>← / →</b> 选前一个或后一个音，<b>Home / End</b> 选第一个或最后一个音；"
        "也可以用鼠标点选。选中的音加框，状态栏写出它是第几个音、唱哪个字、音高和第几句。</li>"
        "<li><b>↑ / ↓</b> 把选中的音升高或降低调式音阶中的一级；"
        "按住 <b>Shift</b> 为一个半音，按住 <b>Ctrl</b> 为一个八度。</li>"
        "<li>在字调符号上点右键，或按<b>菜单键</b>、<b>Shift+F10</b>（对选中的音旁边的符号），"
        "列出一个八度内能使这两个字契合或较契合的音高，选一个即改成它。</li>"
        "<li><b>修正倒字</b>（F6）：改动最少的音，使没有一处 ✗ 倒字；改动的音都在调式音阶内、"
        "在旋律原有的音域内，跳进不超过原有的最大跳进。"
        "状态栏说明改了哪几个音，以及受这些限制而无法修正的字。</li>"
        "<li><b>全部契合</b>（Shift+F6）：改动最少的音，使每一处都是 ✓ 或 ○。</li>"
        "<li><b>重新生成本句</b>（F7）：按择优作曲框中的数目另作若干首，"
        "取选中的音所在这一句最贴合字调的旋律（连同节奏）换上，其余各句一音不变。</li>"
        "<li><b>试听</b>（F5）：从选中的音（没有选中时从头）播放；<b>停止</b>（F8）停止播放，"
        "之后主窗口的“播放”从头播放。</li>"
        "<li>音符上方写着和弦（菜单“伴奏”中的“和弦记为级数”改写成级数，如 6m）。"
        "点和弦名，或按 <b>C</b>（选中的音所在的和弦），列出这里合适的和弦，最合适的在前："
        "选一个即换上并锁定，旁边未锁定的和弦随之重选；<b>锁定</b>的和弦改音时不变，"
        "<b>重新配和弦</b>重选所有未锁定的和弦。改音后只有附近未锁定的和弦可能改变。</li>"
        "<li>播放时旋律和伴奏一起响；菜单“伴奏”可选伴奏型和伴奏乐器，"
        "勾选<b>只听旋律</b>则只播放主旋律。保存的旋律文件始终只有主旋律。</li>"
        "<li><b>撤销</b>（Ctrl+Z）和<b>重做</b>（Ctrl+Shift+Z 或 Ctrl+Y），"
        "菜单“编辑”写出要撤销的是哪一步。</li>"
        "</ul>"
        "<p>每一步修改立即成为播放器中的旋律：“播放”播放它，“主旋律另存为”保存它，"
        "导出也导出它。作品记录中选中的条目只供查看，不能修改；"
        "要修改它，先按<b>载入</b>。</p>"
        "<h3>作品记录</h3>"
        "<p>每次作曲都记入“作品记录”：时间、歌词首句、速度、调式、音色和字调契合。"
        "选中一条即显示其乐谱和能重新生成它的命令行。"
        "一次择优作曲只占一行，标着“择优 N 首之一”；展开这一行（点左边的箭头或按 →）"
        "可看全部 N 首，选出的一首标着“✓ 选中”。"
        "<b>载入</b>把选中的旋律放回播放器，可播放和另存；<b>删除</b>在确认后删去这一条"
        "（删除择优作曲的那一行会连同其余各首一起删除）。"
        "屏幕较窄时作品记录会收起，按工具栏上的“作品记录”（Ctrl+H）可展开或收起。</p>"
        "<p>修改过的旋律停手片刻后也记入作品记录，排在它所修改的那一条下面，"
        "标着“↳ 修改自第 N 条”：N 是原来那一条的编号。"
        "一次按句择优也只占一行，标着“按句择优 N 首”；展开可看它比较的 N 首，"
        "选出的旋律即由其中第一首逐句修改而成。</p>"
        "<h3>导出</h3>"
        "<ul>"
        "<li><b>PDF</b>：A4 纸的乐谱，可打印。</li>"
        "<li><b>PNG</b>：乐谱图片，宽度与窗口相同。</li>"
        "<li><b>MusicXML</b>：可在打谱软件中打开、修改的乐谱。</li>"
        "<li><b>MIDI（含歌词）</b>：每个音符带一个歌词字的 MIDI 文件。</li>"
        "<li><b>音频</b>：用音色库渲染的声音文件（WAV 等）。渲染在后台进行，"
        "进度窗口显示完成多少；期间仍可查看乐谱，按“取消”即停止，不留下文件，"
        "原有的同名文件保持不变。</li>"
        "</ul>"
        "<p>导出时若文件已存在，会先询问是否替换。</p>"
        "<h3>按键</h3>"
        "<table cellspacing='4'>"
        "<tr><td><b>F1</b></td><td>本帮助</td></tr>"
        "<tr><td><b>Ctrl+M</b></td><td>（主窗口中）显示乐谱窗口</td></tr>"
        "<tr><td><b>Ctrl+B</b></td><td>择优作曲</td></tr>"
        "<tr><td><b>Ctrl+Shift+B</b></td><td>按句择优（勾选或取消）</td></tr>"
        "<tr><td><b>← → Home End</b></td><td>选音</td></tr>"
        "<tr><td><b>↑ ↓</b></td><td>升高、降低一级（Shift：半音；Ctrl：八度）</td></tr>"
        "<tr><td><b>菜单键</b> / <b>Shift+F10</b></td><td>选中的音旁边字调符号的菜单</td></tr>"
        "<tr><td><b>C</b></td><td>选中的音所在和弦的菜单</td></tr>"
        "<tr><td><b>F5</b></td><td>试听</td></tr>"
        "<tr><td><b>F6</b> / <b>Shift+F6</b></td><td>修正倒字 / 全部契合</td></tr>"
        "<tr><td><b>F7</b></td><td>重新生成本句</td></tr>"
        "<tr><td><b>F8</b></td><td>停止</td></tr>"
        "<tr><td><b>Ctrl+Z</b></td><td>撤销</td></tr>"
        "<tr><td><b>Ctrl+Shift+Z</b> / <b>Ctrl+Y</b></td><td>重做</td></tr>"
        "<tr><td><b>Ctrl+H</b></td><td>展开或收起作品记录</td></tr>"
        "<tr><td><b>Ctrl+Shift+P</b></td><td>导出 PDF</td></tr>"
        "<tr><td><b>Ctrl+Shift+G</b></td><td>导出 PNG</td></tr>"
        "<tr><td><b>Ctrl+Shift+X</b></td><td>导出 MusicXML</td></tr>"
        "<tr><td><b>Ctrl+Shift+L</b></td><td>导出 MIDI（含歌词）</td></tr>"
        "<tr><td><b>Ctrl+Shift+K</b></td><td>导出卡拉OK</td></tr>"
        "<tr><td><b>Ctrl+Shift+A</b></td><td>导出音频</td></tr>"
        "<tr><td><b>Tab</b> / <b>Shift+Tab</b></td><td>在按钮、列表和乐谱之间移动</td></tr>"
        "<tr><td><b>空格</b> / <b>回车</b></td><td>按下选中的按钮</td></tr>"
        "<tr><td><b>Esc</b></td><td>关闭本帮助</td></tr>"
        "</table>");
}

}  // namespace quavella
