#include "tests/support/Recorders.h"

#include <QFile>

#include "engine/core/Values.h"

namespace velmora::test {

RecordCollector::RecordCollector(CSQLiteRecovery& engine, IProgress& progress, bool save,
                                 IRecordGrid* grid, IStatusText* statusText,
                                 IProgressBar* progressBar)
    : CTableReader(engine, progress, save ? DecodeMode::Save : DecodeMode::Display),
      m_pGrid(save ? nullptr : grid),
      m_pStatusText(statusText) {
  (void)progressBar;
}

CellUse RecordCollector::VisitCell(const CellRef& cell) {
  if (m_pGrid != nullptr) m_recordStatus = FormatRecordStatus(m_pGrid);
  return CTableReader::VisitCell(cell);
}
RecordCollector::~RecordCollector() = default;

QString RecordCollector::PathFor(std::int64_t) {
  if (refuseTempFiles || !m_dir.isValid()) return {};
  const QString path = m_dir.filePath(QStringLiteral("long-%1.bin").arg(++m_nextFile));
  tempPaths << path;
  return path;
}

bool RecordCollector::OnRecord(const RecordView& view) {
  const QString recordStatus = m_recordStatus;
  CollectedRecord record;
  record.hasRowid = view.hasRowid;
  record.rowid = view.rowid;
  const RecordValues items =
      MakeItems(view, m_engine.geometry().textEncoding, m_mode != DecodeMode::Save);
  for (const ITEM& item : items) {
    DecodedValue value;
    value.item = item;
    if (item.inTempFile) {
      QFile file(item.tempFilePath);
      if (file.open(QIODevice::ReadOnly)) {
        value.fileBytes = file.readAll();
        value.fileRead = true;
      }
      file.close();
      QFile::remove(item.tempFilePath);
    }
    record.values << value;
  }
  if (m_pGrid) {
    for (int i = 0; i < record.values.size(); ++i)
      m_pGrid->AddGridCell(i, record.values[i].item.display);
  }
  if (m_pStatusText) m_pStatusText->SetText(recordStatus);
  recordStatuses << recordStatus;
  const int index = int(records.size());
  records << record;
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

}  // namespace velmora::test
