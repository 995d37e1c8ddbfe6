// PDF and PNG exports of the score.
#include "app/score/score_export.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <algorithm>
#include <cmath>
#include <string_view>

#include "app/score/score_layout.h"
#include "app/score/score_painter.h"
#include "base/staged_file.h"

namespace quavella {

namespace {

constexpr double kPageMarginMm = 15;
constexpr int kPdfResolution = 600;
// Image readers commonly refuse sides beyond 32767 pixels.
constexpr double kMaxImageSide = 32767;

/// Writes the file made in memory all or nothing, as every output of the program is
/// written: never through a link, the old file kept on any failure, which names the
/// system's reason.
std::optional<QString> write_whole(const QString& path, const QByteArray& bytes) {
    const std::filesystem::path file(QFile::encodeName(path).toStdString());
    const auto failure = files::write_file(
        file, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    if (!failure) return std::nullopt;
    return QString::fromStdString(*failure);
}

}  // namespace

std::optional<QString> write_score_pdf(std::shared_ptr<const ScoreSheet> sheet,
                                       const QString& path) {
    // Made in memory, then written whole.
    QByteArray pdf;
    QBuffer buffer(&pdf);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setResolution(kPdfResolution);
    writer.setPageLayout(
        QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                    QMarginsF(kPageMarginMm, kPageMarginMm, kPageMarginMm, kPageMarginMm),
                    QPageLayout::Millimeter));
    writer.setTitle(QString::fromStdString(sheet->title));
    writer.setCreator(QStringLiteral("Quavella"));

    // Lay out in logical pixels on the page's printable area.
    const double scale = kPdfResolution / kScoreDpi;
    const QRect paint_rect = writer.pageLayout().paintRectPixels(kPdfResolution);
    const double page_w = paint_rect.width() / scale;
    const double page_h = paint_rect.height() / scale;
    ScoreLayout layout(sheet);
    layout.set_width(page_w);
    const ScorePainter draw(layout);

    // Rows per page: the first page also holds the header; a line at the foot numbers pages.
    constexpr double kFooter = 24;
    const int rows = static_cast<int>(layout.rows().size());
    const int first_page_rows = std::max(
        1, static_cast<int>((page_h - kFooter - layout.header_height()) / layout.row_height()));
    const int page_rows = std::max(1, static_cast<int>((page_h - kFooter) / layout.row_height()));
    const int pages =
        rows <= first_page_rows ? 1 : 1 + (rows - first_page_rows + page_rows - 1) / page_rows;

    QPainter painter;
    if (!painter.begin(&writer)) return QStringLiteral("PDF 写入器无法启动");
    painter.scale(scale, scale);
    int row = 0;
    for (int page = 0; page < pages; ++page) {
        if (page > 0 && !writer.newPage()) {
            painter.end();
            return QStringLiteral("PDF 写入器无法添加新页");
        }
        const int count = page == 0 ? first_page_rows : page_rows;
        const int end = std::min(rows, row + count);
        double dy = 0;
        if (page == 0) {
            draw.header(painter, 0);
        } else {
            dy = -layout.rows()[static_cast<std::size_t>(row)].top;
        }
        draw.rows(painter, row, end, dy, -1);
        if (pages > 1) {
            painter.setFont(layout.text_font);
            painter.setPen(Qt::darkGray);
            painter.drawText(QRectF(0, page_h - kFooter, page_w, kFooter), Qt::AlignCenter,
                             QStringLiteral("%1 / %2").arg(page + 1).arg(pages));
        }
        row = end;
    }
    if (!painter.end()) return QStringLiteral("PDF 写入器无法完成文件");
    return write_whole(path, pdf);
}

std::optional<QString> write_score_png(std::shared_ptr<const ScoreSheet> sheet, int width,
                                       const QString& path) {
    ScoreLayout layout(sheet);
    layout.set_width(width);
    const double height = std::ceil(layout.height());
    const double longest = std::max<double>(width, height);
    const double ratio = longest * 2 <= kMaxImageSide ? 2.0 : 1.0;
    if (longest * ratio > kMaxImageSide) {
        return QStringLiteral("乐谱太长，一张图片放不下（%1 像素高）；请导出 PDF")
            .arg(static_cast<long>(height));
    }
    QImage image(static_cast<int>(width * ratio), static_cast<int>(height * ratio),
                 QImage::Format_RGB32);
    if (image.isNull()) return QStringLiteral("内存不足，无法生成图片");
    image.setDevicePixelRatio(ratio);
    image.setDotsPerMeterX(static_cast<int>(std::lround(kScoreDpi * ratio / 0.0254)));
    image.setDotsPerMeterY(image.dotsPerMeterX());
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        const ScorePainter draw(layout);
        draw.header(painter, 0);
        draw.rows(painter, 0, static_cast<int>(layout.rows().size()), 0, -1);
    }

    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) return QStringLiteral("无法编码 PNG 图片");
    return write_whole(path, png);
}

}  // namespace quavella
