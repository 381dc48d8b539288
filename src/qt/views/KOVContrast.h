#pragma once
#include <string>
#include <vector>

#include <QColor>
#include <QFont>

struct KOVWindowStyle;

namespace kov {

/// Colour contrast as people with low vision need it: the relative luminance ratio of two
/// colours, the least ratio a text needs by its size and weight, and the texts of a style
/// that fall short.
class Contrast {
 public:
  /// (L1 + 0.05) / (L2 + 0.05) of the lighter and darker colour's relative luminance, 1 to 21.
  /// A translucent foreground is laid over the background first.
  static double ratio(const QColor& foreground, const QColor& background);
  /// 3 for large text (at least 24 px, or 18.66 px bold), else 4.5.
  static double textMinimum(const QFont& font);
  /// One line for each text of the style whose contrast is below its minimum, naming it,
  /// its ratio and the minimum; empty when all pass or a colour or font is unset.
  static std::vector<std::string> textShortfalls(const KOVWindowStyle& style);
};

}  // namespace kov
