// Recorders for the engine's small interfaces: they keep what they were told
// so that tests can look at it afterwards.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdint>
#include <functional>
#include <memory>

#include "engine/session/Sinks.h"
#include "output/RecordOutput.h"
#include "platform/MessageBox.h"
#include "tests/support/ReferenceReader.h"

namespace velmora::test {

// One record handed to EmitRecord.
struct CollectedRecord {
  bool hasRowid = false;
  std::int64_t rowid = 0;
  QList<DecodedValue> values;
};

// A table reader that keeps every record (as ITEMs with their display texts).
// Long values that the walk writes to temporary files are read back at once,
// so a record is complete even after their files are written again. In
// display mode with a grid, each record's values go to the grid in record
// order, and the status text receives the record-count text.
class RecordCollector : public CTableReader {
 public:
  RecordCollector(CSQLiteRecovery& engine, IProgress& progress, bool save,
                  IRecordGrid* grid = nullptr, IStatusText* statusText = nullptr,
                  IProgressBar* progressBar = nullptr);
  ~RecordCollector() override;

  QString PathFor(std::int64_t length) override;
  // The record-count text is taken before each cell, as the grid keeps it.
  CellUse VisitCell(const CellRef& cell) override;

  QList<CollectedRecord> records;
  QStringList tempPaths;       // every path handed out
  QStringList recordStatuses;  // the status text passed with each record

  // OnRecord answers false (a stop) from the record with this 0-based index
  // on; -1 never.
  int stopAtRecord = -1;
  // When set, PathFor hands out empty paths (no temporary file).
  bool refuseTempFiles = false;

 protected:
  bool OnRecord(const RecordView& record) override;

 private:
  IRecordGrid* m_pGrid;
  IStatusText* m_pStatusText;
  QString m_recordStatus;
  QTemporaryDir m_dir;
  int m_nextFile = 0;
};

// An IRecordGrid that keeps its columns and cells in memory.
class GridRecorder : public IRecordGrid {
 public:
  int ItemCount() const override { return int(rows.size()); }
  int ColumnCount() const override { return int(captions.size()); }
  void DeleteAllColumns() override;
  void DeleteAllItems() override;
  void Redraw() override { ++redraws; }
  void AddGridColumn(int index, const QString& caption) override;
  void AddGridCell(int column, const QString& text) override;
  void SetVisible(bool visible) override { this->visible = visible; }

  QStringList captions;
  QList<QStringList> rows;
  int redraws = 0;
  int deleteColumnsCalls = 0;
  int deleteItemsCalls = 0;
  int cellsOutOfOrder = 0;  // cells for a column other than 0 before any row
  bool visible = true;
};

class StatusTextRecorder : public IStatusText {
 public:
  void SetText(const QString& text) override { texts << text; }
  void SetVisible(bool visible) override { visibility << visible; }
  QString Last() const { return texts.isEmpty() ? QString() : texts.last(); }
  QStringList texts;
  QList<bool> visibility;
};

class ProgressBarRecorder : public IProgressBar {
 public:
  struct Event {
    enum Kind { Range, Pos, Color, Visible } kind;
    int a = 0, b = 0;
    std::uint32_t color = 0;
  };
  void SetRange(int low, int high) override { events << Event{Event::Range, low, high, 0}; }
  void SetPos(int pos) override { events << Event{Event::Pos, pos, 0, 0}; }
  void SetBarColor(std::uint32_t rgb) override { events << Event{Event::Color, 0, 0, rgb}; }
  void SetVisible(bool visible) override { events << Event{Event::Visible, visible ? 1 : 0, 0, 0}; }
  QList<int> Positions() const;
  QList<Event> events;
};

class StatementEditRecorder : public IStatementEdit {
 public:
  void SetText(const QString& text) override {
    this->text = text;
    ++setTextCalls;
  }
  void SetFocus() override { ++focusCalls; }
  void SetVisible(bool visible) override { this->visible = visible; }
  QString text;
  int setTextCalls = 0;
  int focusCalls = 0;
  bool visible = true;
};

class ControlRecorder : public IControl {
 public:
  void SetVisible(bool visible) override { visibility << visible; }
  QList<bool> visibility;
};

// Installs a message-box hook for its lifetime that records every box and
// answers Yes/No boxes from `answers` (in order; then `defaultAnswer`). OK
// boxes answer Ok. The previous hook is restored by the destructor.
class MessageBoxRecorder {
 public:
  struct Box {
    QString text;
    MsgButtons buttons;
    MsgIcon icon;
  };
  explicit MessageBoxRecorder(MsgResult defaultAnswer = MsgResult::No);
  ~MessageBoxRecorder();
  MessageBoxRecorder(const MessageBoxRecorder&) = delete;
  MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

  QStringList Texts() const;
  bool Saw(const QString& text) const { return Texts().contains(text); }

  QList<Box> boxes;
  QList<MsgResult> answers;
  MsgResult defaultAnswer;

 private:
  MessageBoxHook m_previous;
};

// A progress that counts its steps and asks to stop after `stopAfter` steps
// (-1: never).
struct ProgressCounter : IProgress {
  std::int64_t calls = 0;
  std::int64_t stopAfter = -1;
  bool Step(const WalkStep&) override {
    ++calls;
    return stopAfter >= 0 && calls > stopAfter;
  }
};

}  // namespace velmora::test
