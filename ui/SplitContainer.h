#pragma once

#include <QWidget>

namespace quorvex {

// Two panels one above the other with a fixed 1-pixel splitter that the user cannot move. The
// lower panel is the fixed one: resizing the container resizes only the upper panel. Sizes in
// pixels. UI thread only.
class SplitContainer : public QWidget {
  Q_OBJECT

 public:
  // Takes `panel1` as the upper panel when given (a widget of a special kind), else makes one.
  explicit SplitContainer(QWidget* parent = nullptr, QWidget* panel1 = nullptr);

  // Owned by the container; place children into them. A lower panel of height 0 is hidden, so
  // that its controls take no keyboard focus.
  QWidget* Panel1() const { return panel1_; }
  QWidget* Panel2() const { return panel2_; }

  static constexpr int kSplitterWidth = 1;

  // The height of the upper panel. Setting it gives the rest below the splitter to the lower
  // panel, which keeps at least its minimum size.
  int SplitterDistance() const;
  void SetSplitterDistance(int distance);
  // The smallest height the lower panel may take; raising it grows the lower panel at once.
  int Panel2MinSize() const { return panel2_min_; }
  void SetPanel2MinSize(int size);
  // The smallest height of the upper panel that SetSplitterDistance allows.
  int Panel1MinSize() const { return panel1_min_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Relayout();

  QWidget* panel1_;
  QWidget* panel2_;
  int panel1_min_ = 25;
  int panel2_min_ = 25;
  int panel2_height_ = 25;  // the fixed panel keeps this height across resizes
};

}  // namespace quorvex
