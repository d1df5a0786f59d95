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
  setPlainText("edtMsg");
}

void MessageLog::PutLine(int32_t msgNo, const QString& line) {
  if (msgNo < LogLines)
    ReplaceLine(LineCount(), line);
  else
    ReplaceLine(msgNo % LogLines, line);
}

void MessageLog::ReplaceLine(int index, const QString& line) {
  QTextBlock block = document()->findBlockByNumber(index);
  QTextCursor cursor(document());
  if (block.isValid()) {
    cursor.setPosition(block.position());
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    cursor.insertText(line);
  } else {
    cursor.movePosition(QTextCursor::End);
    cursor.insertBlock();
    cursor.insertText(line);
    index = LineCount() - 1;
  }
  ShowLine(index);
}

void MessageLog::ShowLine(int index) {
  QTextCursor cursor(document()->findBlockByNumber(index));
  setTextCursor(cursor);
  ensureCursorVisible();
}

QString MessageLog::Line(int index) const {
  QTextBlock block = document()->findBlockByNumber(index);
  return block.isValid() ? block.text() : QString();
}

int MessageLog::LineCount() const {
  return document()->blockCount();
}

} // namespace zupo
