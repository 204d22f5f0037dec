// The recovery session: the scan of the damaged file's schema and the walks
// of its b-trees.
#include "engine/SQLiteRecovery.h"

#include "engine/Values.h"
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
  SchemaCollector(const CSQLiteRecovery& session, SchemaCatalog& catalog,
                  std::map<QString, std::int64_t>& internalRoots)
      : m_session(session), m_catalog(catalog), m_internalRoots(internalRoots) {}
  CellUse VisitCell(const CellRef& cell) override {
    m_session.DecodeCell(cell, DecodeMode::Schema, nullptr, m_view);
    // A schema row is taken even from a cell that overlaps the next one: its
    // record decoded whole, and losing a table costs more than a doubtful row.
    SchemaObject object;
    if (RecognizeSchemaRow(m_view, m_session.geometry().textEncoding, &object)) {
      object.page = cell.pageNumber;
      m_catalog.Add(std::move(object));
    } else {
      NoteInternalTable();
    }
    const bool fits = m_view.localPayload <= cell.space && m_view.localPayload <= cell.pageSize;
    return fits ? CellUse::Used : CellUse::Skipped;
  }

 private:
  // The schema row of sqlite_sequence is not a catalog table (the library
  // makes that table itself), but a save keeps its rows: its root page is
  // kept aside.
  void NoteInternalTable() {
    const auto& values = m_view.values;
    const std::uint32_t encoding = m_session.geometry().textEncoding;
    if (values.size() < 4 || values[0].storage != StorageClass::Text ||
        values[1].storage != StorageClass::Text || values[3].storage != StorageClass::Integer ||
        values[3].intValue <= 0)
      return;
    if (ExactText(m_view, values[0], encoding) != QLatin1String("table")) return;
    const QString name = ExactText(m_view, values[1], encoding);
    if (!InternalTableStatement(name).isEmpty()) m_internalRoots.emplace(name, values[3].intValue);
  }

  const CSQLiteRecovery& m_session;
  SchemaCatalog& m_catalog;
  std::map<QString, std::int64_t>& m_internalRoots;
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

CSQLiteRecovery::ScanOutcome CSQLiteRecovery::ScanDatabase(const QString& path,
                                                          const ScanOptions& options) {
  m_sourcePath = path;
  m_catalog.Clear();
  m_internalRoots.clear();
  m_pageMap.Clear();
  m_tableNames.clear();
  switch (m_source.Open(path, options.useCompanions)) {
    case PageSource::OpenResult::NotOpen: return ScanOutcome::NotOpen;
    case PageSource::OpenResult::Corrupted: return ScanOutcome::Corrupted;
    case PageSource::OpenResult::Opened: break;
  }
  SchemaCollector collector(*this, m_catalog, m_internalRoots);
  WalkPage(1, collector, nullptr);
  return ScanOutcome::Opened;
}

WalkReport CSQLiteRecovery::WalkPage(std::int64_t root, ICellVisitor& visitor,
                                     IWalkProgress* progress) {
  SessionProgress own(*this);
  TreeWalk walk(m_source, &m_pageMap);
  return walk.Walk(root, visitor, progress != nullptr ? progress : &own);
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
  // The internal tables whose rows a save keeps (AUTOINCREMENT counters,
  // planner statistics) are made with their fixed statements.
  for (const SchemaObject* table : m_catalog.OfKind(SchemaKind::Table)) {
    if (!InternalTableStatement(table->name).isEmpty())
      m_working->ReplayInternal(table->name);
    else
      m_working->Replay(table->sql);
  }
  m_working->Commit();
  m_tableNames = m_working->TableNames();
  return outcome;
}

std::int64_t CSQLiteRecovery::InternalTableRoot(const QString& name) const {
  if (const SchemaObject* table = m_catalog.Find(SchemaKind::Table, name)) return table->rootPage;
  const auto it = m_internalRoots.find(name);
  return it != m_internalRoots.end() ? it->second : 0;
}

sqlite3* CSQLiteRecovery::WorkingDb() const { return m_working ? m_working->Db() : nullptr; }
QString CSQLiteRecovery::WorkingDbPath() const {
  return m_working ? m_working->Path() : QString();
}

}  // namespace velmora
