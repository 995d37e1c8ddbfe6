// The score written to files with the drawing of the score window: a PDF on A4
// pages (Qt's own PDF writer) and a PNG image. Each is made in memory and written by the
// staged writer (base/staged_file.h), as every output is: a failed export leaves no partial
// file and an existing one untouched, and a symbolic link in the target's place is refused.
#pragma once

#include <QString>
#include <memory>
#include <optional>

#include "app/score/score_sheet.h"

namespace quavella {

/// Writes the score as a PDF of A4 pages, as many as it needs.
/// @return nothing on success, otherwise the reason it failed
std::optional<QString> write_score_pdf(std::shared_ptr<const ScoreSheet> sheet,
                                       const QString& path);

/// Writes the score as one PNG image laid out `width` logical pixels wide, at twice
/// that resolution while the image stays within what image readers accept.
/// @return nothing on success, otherwise the reason it failed
std::optional<QString> write_score_png(std::shared_ptr<const ScoreSheet> sheet, int width,
                                       const QString& path);

/// Logical pixels per inch of the drawing.
inline constexpr double kScoreDpi = 96;

}  // namespace quavella
