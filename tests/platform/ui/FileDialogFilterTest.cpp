// Filter strings of "label|patterns" pairs, mapped to Qt's name filters.
#include <gtest/gtest.h>

#include "platform/ui/FileDialogFilter.h"
#include "tests/ui/Printers.h"

namespace quorvex::ui {
namespace {

TEST(FileDialogFilter, MapsPairsToQtFilters) {
  const std::vector<std::pair<QString, QStringList>> cases{
      {"Text|*.txt", {"Text (*.txt *.TXT)"}},
      {"Notes (old)|*.n", {"Notes (old) (*.n *.N)"}},  // other parentheses in the label
      {"", {}},
      {"A|*.a|B", {"A (*.a *.A)"}},         // a trailing label is dropped
      {"A||B|*.b", {"B (*.b *.B)"}},        // so are empty patterns
      {"A|*.a;*.a;*.A", {"A (*.a *.A)"}}};  // duplicates once
  for (const auto& [pairs, expected] : cases)
    EXPECT_EQ(FileDialogFilters(pairs), expected) << pairs.toStdString();
}

}  // namespace
}  // namespace quorvex::ui
