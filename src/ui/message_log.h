#pragma once
#include <QPlainTextEdit>
#include <QStringList>
#include <chrono>
#include <cstdint>
#include <vector>

namespace zupo {

// The numbered progress log: a read-only text box holding at most LogLines lines. Line msgNo is
// appended while msgNo < LogLines; after that it overwrites line msgNo mod LogLines, so that the
// box works as a ring in which the newest line replaces the oldest.
//
// The lines are kept here and handed to the text box a few times a second: laying out, scrolling
// and repainting the box for every line costs a fast run several milliseconds a generation.
class MessageLog : public QPlainTextEdit {
public:
  static constexpr int LogLines = 200;
  static constexpr std::chrono::milliseconds ShowInterval{250};

  explicit MessageLog(QWidget* parent = nullptr);
  void PutLine(int32_t msgNo, const QString& line);
  // Overwrites line index (numbered from 0); a line that does not exist yet is appended.
  void ReplaceLine(int index, const QString& line);
  // Brings the text box up to date and scrolls it to the line written last.
  void Show();
  // Show(), when the last one is ShowInterval old.
  void ShowIfDue();

  QString Line(int index) const;
  int LineCount() const { return static_cast<int>(lines_.size()); }

private:
  QStringList lines_;
  std::vector<char> changed_; // by line: its text is not yet in the text box
  bool anyChanged_ = false;
  int shownCount_ = 0; // lines the text box holds
  int newest_ = 0;
  std::chrono::steady_clock::time_point lastShown_{};
};

} // namespace zupo
