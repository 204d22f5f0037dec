#include "tests/support/Recorders.h"

#include <QFile>

namespace velmora::test {

RecordCollector::RecordCollector() = default;
RecordCollector::~RecordCollector() = default;

QString RecordCollector::FormatRecordStatus(IRecordGrid* grid) {
  ++statusCalls;
  return QStringLiteral(" Records: %1").arg(grid ? grid->ItemCount() : 0);
}

void RecordCollector::BeforeCell() {
  ++beforeCellCalls;
  // The previous record's files have been read back; they are removed as
  // the program removes them.
  for (const QString& path : std::as_const(m_pending)) QFile::remove(path);
  m_pending.clear();
}

QString RecordCollector::MakeTempFilePath() {
  if (refuseTempFiles || !m_dir.isValid()) return {};
  const QString path = m_dir.filePath(QStringLiteral("long-%1.bin").arg(++m_nextFile));
  tempPaths << path;
  m_pending << path;
  return path;
}

bool RecordCollector::EmitRecord(RecordValues& values, bool hasRowid, std::int64_t rowid,
                                 IRecordGrid* grid, IStatusText* statusText,
                                 const QString& recordStatus) {
  CollectedRecord record;
  record.hasRowid = hasRowid;
  record.rowid = rowid;
  for (const ITEM& item : values) {
    DecodedValue value;
    value.item = item;
    if (item.inTempFile) {
      QFile file(item.tempFilePath);
      if (file.open(QIODevice::ReadOnly)) {
        value.fileBytes = file.readAll();
        value.fileRead = true;
      }
    }
    record.values << value;
  }
  if (grid) {
    for (int i = 0; i < record.values.size(); ++i) grid->AddGridCell(i, record.values[i].item.display);
  }
  if (statusText) statusText->SetText(recordStatus);
  recordStatuses << recordStatus;
  const int index = int(records.size());
  records << record;
  if (onRecord) onRecord(records.last());
  return !(stopAtRecord >= 0 && index >= stopAtRecord);
}

void GridRecorder::DeleteAllColumns() {
  ++deleteColumnsCalls;
  captions.clear();
}

void GridRecorder::DeleteAllItems() {
  ++deleteItemsCalls;
  rows.clear();
}

void GridRecorder::AddGridColumn(int index, const QString& caption) {
  if (index < 0 || index > captions.size()) index = int(captions.size());
  captions.insert(index, caption);
}

void GridRecorder::AddGridCell(int column, const QString& text) {
  if (column == 0) {
    rows << QStringList{text};
    return;
  }
  if (rows.isEmpty()) {
    ++cellsOutOfOrder;
    return;
  }
  QStringList& row = rows.last();
  while (row.size() < column) row << QString();
  if (row.size() == column)
    row << text;
  else
    row[column] = text;
}

QList<int> ProgressBarRecorder::Positions() const {
  QList<int> positions;
  for (const Event& e : events)
    if (e.kind == Event::Pos) positions << e.a;
  return positions;
}

MessageBoxRecorder::MessageBoxRecorder(MsgResult defaultAnswer) : defaultAnswer(defaultAnswer) {
  m_previous = SetMessageBoxHook([this](const QString& text, MsgButtons buttons, MsgIcon icon) {
    boxes << Box{text, buttons, icon};
    if (buttons == MsgButtons::Ok) return MsgResult::Ok;
    if (!answers.isEmpty()) return answers.takeFirst();
    return this->defaultAnswer;
  });
}

MessageBoxRecorder::~MessageBoxRecorder() { SetMessageBoxHook(m_previous); }

QStringList MessageBoxRecorder::Texts() const {
  QStringList texts;
  for (const Box& b : boxes) texts << b.text;
  return texts;
}

bool ProgressCounter::Proc(int, void* owner) {
  auto* counter = static_cast<ProgressCounter*>(owner);
  ++counter->calls;
  return counter->stopAfter >= 0 && counter->calls > counter->stopAfter;
}

}  // namespace velmora::test
