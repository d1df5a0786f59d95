#pragma once
#include <QPlainTextEdit>
#include <cstdint>

namespace zupo {

// The numbered progress log: a read-only text box holding at most LogLines lines. Line msgNo is
// appended while msgNo < LogLines; after that it overwrites line msgNo mod LogLines, so that the
// box works as a ring in which the newest line replaces the oldest.
class MessageLog : public QPlainTextEdit {
public:
  static constexpr int LogLines = 200;

  explicit MessageLog(QWidget* parent = nullptr);
  void PutLine(int32_t msgNo, const QString& line);
  // Overwrites line index (numbered from 0); a line that does not exist yet is appended.
  void ReplaceLine(int index, const QString& line);
  QString Line(int index) const;
  int LineCount() const;

private:
  void ShowLine(int index);
};

} // namespace zupo
