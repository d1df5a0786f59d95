#include "ui/message_log.h"

#include <QTextBlock>
#include <QTextCursor>

namespace zupo {

MessageLog::MessageLog(QWidget* parent) : QPlainTextEdit(parent) {
  // Read-only, so that no edit by the user can remove a line the ring is about to replace.
  setReadOnly(true);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setUndoRedoEnabled(false);
  changed_.assign(LogLines, 0);
  lines_ << "edtMsg";
  setPlainText(lines_[0]);
  shownCount_ = 1;
}

void MessageLog::PutLine(int32_t msgNo, const QString& line) {
  ReplaceLine(msgNo < LogLines ? LineCount() : msgNo % LogLines, line);
}

void MessageLog::ReplaceLine(int index, const QString& line) {
  if (index < 0 || index >= LineCount()) {
    if (LineCount() < LogLines) {
      index = LineCount();
      lines_ << line;
    } else {
      index = (index < 0 ? 0 : index) % LogLines;
      lines_[index] = line;
    }
  } else {
    lines_[index] = line;
  }
  changed_[index] = 1;
  anyChanged_ = true;
  newest_ = index;
}

QString MessageLog::Line(int index) const {
  return index >= 0 && index < LineCount() ? lines_[index] : QString();
}

void MessageLog::ShowIfDue() {
  if (anyChanged_ && std::chrono::steady_clock::now() - lastShown_ >= ShowInterval) Show();
}

void MessageLog::Show() {
  lastShown_ = std::chrono::steady_clock::now();
  if (!anyChanged_) return;
  QTextCursor cursor(document());
  cursor.beginEditBlock();
  if (shownCount_ < LineCount()) {
    cursor.movePosition(QTextCursor::End);
    for (int i = shownCount_; i < LineCount(); ++i) {
      cursor.insertBlock();
      cursor.insertText(lines_[i]);
    }
  }
  for (int index = 0; index < shownCount_; ++index) {
    if (!changed_[index]) continue;
    QTextBlock block = document()->findBlockByNumber(index);
    cursor.setPosition(block.position());
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    cursor.insertText(lines_[index]);
  }
  cursor.endEditBlock();
  shownCount_ = LineCount();
  changed_.assign(LogLines, 0);
  anyChanged_ = false;
  setTextCursor(QTextCursor(document()->findBlockByNumber(newest_)));
  ensureCursorVisible();
}

} // namespace zupo
