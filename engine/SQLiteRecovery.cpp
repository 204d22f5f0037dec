// The recovery session: the scan of the damaged file's schema and the walks
// of its b-trees.
#include "engine/SQLiteRecovery.h"

#include "engine/WorkingDatabase.h"

namespace velmora {
namespace {

// Polls the session's progress callback between units of a walk.
class SessionProgress : public IWalkProgress {
 public:
  explicit SessionProgress(const CSQLiteRecovery& session) : m_session(session) {}
  bool Step(const WalkStep&) override { return m_session.ProgressStop(); }

 private:
  const CSQLiteRecovery& m_session;
};

// Reads every record of the schema tree into the catalog.
class SchemaCollector : public ICellVisitor {
 public:
  SchemaCollector(const CSQLiteRecovery& session, SchemaCatalog& catalog)
      : m_session(session), m_catalog(catalog) {}
  CellUse VisitCell(const CellRef& cell) override {
    m_session.DecodeCell(cell, DecodeMode::Schema, nullptr, m_view);
    // A schema row is taken even from a cell that overlaps the next one: its
    // record decoded whole, and losing a table costs more than a doubtful row.
    SchemaObject object;
    if (RecognizeSchemaRow(m_view, m_session.geometry().textEncoding, &object)) {
      object.page = cell.pageNumber;
      m_catalog.Add(std::move(object));
    }
    const bool fits = m_view.localPayload <= cell.space && m_view.localPayload <= cell.pageSize;
    return fits ? CellUse::Used : CellUse::Skipped;
  }

 private:
  const CSQLiteRecovery& m_session;
  SchemaCatalog& m_catalog;
  RecordView m_view;
};

}  // namespace

CSQLiteRecovery::CSQLiteRecovery() = default;
CSQLiteRecovery::~CSQLiteRecovery() = default;

QString CSQLiteRecovery::ScanMessage(ScanOutcome outcome) {
  switch (outcome) {
    case ScanOutcome::NotOpen: return QStringLiteral("File Not Open !");
    case ScanOutcome::Corrupted: return QStringLiteral("File Corrupted");
    case ScanOutcome::Opened: break;
  }
  return QString();
}

CSQLiteRecovery::ScanOutcome CSQLiteRecovery::ScanDatabase(const QString& path) {
  m_sourcePath = path;
  m_catalog.Clear();
  m_pageMap.Clear();
  m_tableNames.clear();
  m_orphans = OrphanPassResult();
  switch (m_source.Open(path)) {
    case PageSource::OpenResult::NotOpen: return ScanOutcome::NotOpen;
    case PageSource::OpenResult::Corrupted: return ScanOutcome::Corrupted;
    case PageSource::OpenResult::Opened: break;
  }
  SchemaCollector collector(*this, m_catalog);
  WalkPage(1, collector, nullptr);
  return ScanOutcome::Opened;
}

WalkReport CSQLiteRecovery::WalkPage(std::int64_t root, ICellVisitor& visitor,
                                     IWalkProgress* progress) {
  SessionProgress own(*this);
  TreeWalk walk(m_source, &m_pageMap);
  return walk.Walk(root, visitor, progress != nullptr ? progress : &own);
}

WalkReport CSQLiteRecovery::WalkLoosePage(std::int64_t page, ICellVisitor& visitor,
                                          IWalkProgress* progress) {
  SessionProgress own(*this);
  TreeWalk walk(m_source, nullptr);
  return walk.Walk(page, visitor, progress != nullptr ? progress : &own);
}

const PutBackPages* CSQLiteRecovery::PutBack(const QString& name) const {
  auto found = m_orphans.putBack.find(name);
  return found != m_orphans.putBack.end() ? &found->second : nullptr;
}

const SchemaObject* CSQLiteRecovery::LostAndFound() const {
  for (const SchemaObject& object : m_catalog.Objects())
    if (object.origin == SchemaOrigin::LostAndFound) return &object;
  return nullptr;
}

void CSQLiteRecovery::DecodeCell(const CellRef& cell, DecodeMode mode, ILongValueFiles* files,
                                 RecordView& view) const {
  DecodeCellPayload(m_source, cell.pageType, cell.page, cell.pageSize, cell.offset, mode, files,
                    cell.overflowPages, cell.map, cell.tree, view);
}

void CSQLiteRecovery::DecodeCell(std::uint8_t pageType, const std::uint8_t* page,
                                 std::int64_t pageLength, std::int64_t cellOffset, DecodeMode mode,
                                 ILongValueFiles* files, RecordView& view) const {
  DecodeCellPayload(m_source, pageType, page, pageLength, cellOffset, mode, files, nullptr,
                    nullptr, 0, view);
}

CSQLiteRecovery::WorkingDbOutcome CSQLiteRecovery::BuildWorkingDatabase() {
  m_tableNames.clear();
  m_working = std::make_unique<WorkingDatabase>();
  WorkingDbOutcome outcome;
  QString error;
  outcome.path = WorkingDatabase::DefaultPath();
  if (!m_working->Create(outcome.path, &error)) {
    outcome.message =
        QStringLiteral("The working database cannot be created:\n%1\n%2").arg(outcome.path, error);
    return outcome;
  }
  for (const SchemaObject* table : m_catalog.OfKind(SchemaKind::Table)) m_working->Replay(table->sql);
  m_working->Commit();
  m_tableNames = m_working->TableNames();

  SessionProgress progress(*this);
  m_orphans = RunOrphanPass(*this, &progress);
  if (m_orphans.lostRows > 0) {
    // Rows that fit no table are kept in a table of their own, made here:
    // it has no schema row in the file.
    QStringList taken = m_tableNames;
    for (const SchemaObject& object : m_catalog.Objects()) taken << object.name;
    SchemaObject lost;
    lost.type = QStringLiteral("table");
    lost.name = LostAndFoundName(taken);
    lost.tableName = lost.name;
    lost.sql = LostAndFoundSql(lost.name, m_orphans.lostWidth);
    lost.origin = SchemaOrigin::LostAndFound;
    lost.kinds.table = true;
    if (m_working->Replay(lost.sql)) {
      m_catalog.Add(std::move(lost));
      m_tableNames = m_working->TableNames();
    }
  }
  return outcome;
}

sqlite3* CSQLiteRecovery::WorkingDb() const { return m_working ? m_working->Db() : nullptr; }
QString CSQLiteRecovery::WorkingDbPath() const {
  return m_working ? m_working->Path() : QString();
}

}  // namespace velmora
