// The recovery session: one RecoveryState per opened file, the passes run
// over it in order, and the walks and decodes the output asks for.
#include "engine/session/SQLiteRecovery.h"

#include "engine/pages/RecordVisitor.h"
#include "engine/passes/PagePasses.h"
#include "engine/passes/RecoveryPasses.h"
#include "engine/passes/RecoveryState.h"
#include "engine/passes/SchemaSearch.h"
#include "engine/schema/WorkingDatabase.h"

namespace velmora {

CSQLiteRecovery::CSQLiteRecovery() : m_state(std::make_unique<RecoveryState>()) {}
CSQLiteRecovery::~CSQLiteRecovery() = default;

QString CSQLiteRecovery::ScanMessage(ScanOutcome outcome) {
  switch (outcome) {
    case ScanOutcome::NotOpen:
      return QStringLiteral("File Not Open !");
    case ScanOutcome::Corrupted:
      return QStringLiteral("File Corrupted");
    case ScanOutcome::Opened:
      break;
  }
  return QString();
}

bool CSQLiteRecovery::RunPasses(int phase, IProgress& progress) {
  for (const RecoveryPass& pass : RecoveryPasses()) {
    if (static_cast<int>(pass.phase) != phase) continue;
    const PassResult result = pass.run(*m_state, progress);
    m_tableSet = QSet<QString>(m_state->tableNames.cbegin(), m_state->tableNames.cend());
    if (result == PassResult::Failed) return false;
  }
  return true;
}

CSQLiteRecovery::ScanOutcome CSQLiteRecovery::ScanDatabase(const QString& path,
                                                           const ScanOptions& options,
                                                           IProgress& progress) {
  // Nothing of the file opened before survives: not its pages, its roots,
  // its holes, its working database nor the findings of its passes.
  m_state = std::make_unique<RecoveryState>();
  m_tableSet.clear();
  m_state->sourcePath = path;
  m_state->findDeleted = options.findDeleted;
  switch (m_state->source.Open(path, options.useCompanions)) {
    case PageSource::OpenResult::NotOpen:
      return ScanOutcome::NotOpen;
    case PageSource::OpenResult::Corrupted:
      return ScanOutcome::Corrupted;
    case PageSource::OpenResult::Opened:
      break;
  }
  RunPasses(static_cast<int>(PassPhase::Scan), progress);
  return ScanOutcome::Opened;
}

CSQLiteRecovery::WorkingDbOutcome CSQLiteRecovery::BuildWorkingDatabase(IProgress& progress) {
  WorkingDbOutcome outcome;
  m_state->workingError.clear();
  if (!RunPasses(static_cast<int>(PassPhase::Build), progress)) {
    outcome.path = WorkingDatabase::Folder();
    outcome.message = QStringLiteral("The working database cannot be created:\n%1\n%2")
                          .arg(outcome.path, m_state->workingError);
    return outcome;
  }
  outcome.path = m_state->working->Path();
  return outcome;
}

WalkReport CSQLiteRecovery::WalkPage(std::int64_t root, ICellVisitor& visitor,
                                     IProgress& progress) {
  return m_state->Walk(root, visitor, progress);
}

WalkReport CSQLiteRecovery::WalkLoosePage(std::int64_t page, ICellVisitor& visitor,
                                          IProgress& progress) {
  return m_state->WalkLoose(page, visitor, progress);
}

PageCounts CSQLiteRecovery::ClassifyPages(IProgress& progress) {
  return velmora::ClassifyPages(*m_state, progress);
}

bool CSQLiteRecovery::RunPassAgain(std::string_view name, IProgress& progress) {
  for (const RecoveryPass& pass : RecoveryPasses())
    if (name == pass.name) return pass.run(*m_state, progress) != PassResult::Failed;
  return false;
}

bool CSQLiteRecovery::DecodeCell(const CellRef& cell, DecodeMode mode, ILongValueFiles* files,
                                 RecordView& view) const {
  return DecodeWalkedCell(m_state->source, cell, mode, files, view);
}

bool CSQLiteRecovery::DecodeCell(std::uint8_t pageType, const std::uint8_t* page,
                                 std::int64_t pageLength, std::int64_t cellOffset, DecodeMode mode,
                                 ILongValueFiles* files, RecordView& view) const {
  TempFileSpill spill(files);
  return DecodeCellPayload(m_state->source, {pageType, page, pageLength, cellOffset}, mode, view,
                           nullptr, &spill);
}

const QString& CSQLiteRecovery::SourcePath() const { return m_state->sourcePath; }
const QString& CSQLiteRecovery::FilePath() const { return m_state->source.Path(); }
const Geometry& CSQLiteRecovery::geometry() const { return m_state->source.geometry(); }
const PageSource& CSQLiteRecovery::Source() const { return m_state->source; }
const SourceReport& CSQLiteRecovery::SourceInfo() const { return m_state->source.Report(); }
const SchemaCatalog& CSQLiteRecovery::Catalog() const { return m_state->catalog; }
const PageMap& CSQLiteRecovery::Pages() const { return m_state->pages; }
const std::vector<std::int64_t>& CSQLiteRecovery::LiveRoots() const { return m_state->liveRoots; }
bool CSQLiteRecovery::RootRefused(std::int64_t root) const { return m_state->RootRefused(root); }
bool CSQLiteRecovery::FirstPageReadLoosely() const { return m_state->schema.firstPageLoose; }
bool CSQLiteRecovery::SchemaSearched() const { return m_state->schema.searched; }
std::int64_t CSQLiteRecovery::SchemaRowsFound() const { return m_state->schema.rowsFound; }
const SchemaScan& CSQLiteRecovery::SchemaFindings() const { return m_state->schema; }
const std::vector<RowidRange>& CSQLiteRecovery::Holes(std::int64_t root) const {
  return m_state->Holes(root);
}
bool CSQLiteRecovery::WalkComplete(std::int64_t root) const { return m_state->WalkComplete(root); }
const OrphanPassResult& CSQLiteRecovery::Orphans() const { return m_state->orphans; }
const DeletedRecords& CSQLiteRecovery::Deleted() const { return m_state->deleted; }
const std::vector<SchemaIndexRow>& CSQLiteRecovery::AutoIndexRows() const {
  return m_state->autoIndexes;
}
const QStringList& CSQLiteRecovery::TableNames() const { return m_state->tableNames; }

bool CSQLiteRecovery::HasTable(const QString& name) const { return m_tableSet.contains(name); }
std::int64_t CSQLiteRecovery::InternalTableRoot(const QString& name) const {
  return m_state->InternalTableRoot(name);
}

const PutBackPages* CSQLiteRecovery::PutBack(const QString& name) const {
  auto found = m_state->orphans.putBack.find(name);
  return found != m_state->orphans.putBack.end() ? &found->second : nullptr;
}

PagePicture CSQLiteRecovery::PageUses(IProgress& progress) const {
  return DrawPagePicture(*m_state, progress);
}

const SchemaObject* CSQLiteRecovery::LostAndFound() const {
  for (const SchemaObject& object : m_state->catalog.Objects())
    if (object.origin == SchemaOrigin::LostAndFound) return &object;
  return nullptr;
}

sqlite3* CSQLiteRecovery::WorkingDb() const {
  return m_state->working ? m_state->working->Db() : nullptr;
}
QString CSQLiteRecovery::WorkingDbPath() const {
  return m_state->working ? m_state->working->Path() : QString();
}

QStringList DescribeSchemaRecovery(const CSQLiteRecovery& session) {
  return DescribeSchemaRecovery(session.SchemaFindings());
}

}  // namespace velmora
