// CSQLiteRecovery: everything known about the damaged database file that the
// user opened, and the operations that read it.
//
// The file is opened read-only and read page by page with plain reads; the
// SQLite library is never asked to open it. Decoding is bounded by the buffers
// it reads from; damage shows only as missing pages, cells or values.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "engine/Item.h"
#include "engine/PageSet.h"
#include "engine/Sinks.h"
#include "platform/File64.h"

struct sqlite3;

namespace velmora {

// One column of the table being extracted, as "pragma table_info" and the
// column metadata of the working database report it (all texts).
struct SQLiteColumnInfo {
  QString name;
  QString declaredType;
  QString notNull;        // "0" or "1"
  QString defaultValue;   // dflt_value as SQL text, empty when none
  QString primaryKey;     // "0" when not part of the primary key, else its 1-based key position
  QString autoIncrement;  // "0" or "1"
};

// Start and length of one cell in its page.
struct SQLiteRowOffset {
  std::int32_t m_nOffset = 0;
  std::int32_t m_nLength = 0;
};

// One schema row with its fields as decoded (exact texts, commas and quotes
// kept), parallel to the row texts of the four schema lists.
struct SchemaObject {
  QString type;       // first field: "table", "index", "view", "trigger", or damaged
  QString name;       // object name, exactly as stored
  QString tableName;  // tbl_name
  std::int64_t rootPage = 0;
  QString sql;        // the CREATE statement (display text of the last text value)
  QString rowText;    // the row text as in the string list
};

class CSQLiteRecovery {
 public:
  CSQLiteRecovery();
  ~CSQLiteRecovery();
  CSQLiteRecovery(const CSQLiteRecovery&) = delete;
  CSQLiteRecovery& operator=(const CSQLiteRecovery&) = delete;

  // The Open entry: stores `path`, opens and validates the file, walks the
  // schema b-tree from page 1 and fills the four schema lists. Always true;
  // the caller judges the outcome by the lists.
  bool ScanDatabase(const QString& path);

  // Re-creates the working database, replays the recovered CREATE TABLE
  // statements into it and reads back m_lstTableNames. Returns its path.
  // Never ends the process: when the working database cannot be created a
  // message box names the path and the error, and m_lstTableNames stays empty.
  QString BuildWorkingDatabase();

  // Walks the b-tree rooted at `pageNumber`, handing every record to
  // m_pRecordSink. True when everything below was processed and no stop was
  // requested; false when a page was unusable (the walk still went on with
  // the other children) or the user stopped. A top-level call starts a fresh
  // visited-page set.
  bool WalkPage(std::int64_t pageNumber, IRecordGrid* grid, IStatusText* statusText,
                IProgressBar* progressBar, bool topLevel);

  // Calls m_pfnProgress; false when there is none.
  bool ProgressStop() const { return m_pfnProgress != nullptr && m_pfnProgress(0, m_pOwner); }

  // What DecodeCell found besides the values.
  struct CellInfo {
    std::int64_t localPayload = 0;  // payload bytes the cell keeps on its page
    bool hasRowid = false;          // leaf table cell
    std::int64_t rowid = 0;
  };

  // Decodes the cell at `cellOffset` of the page image `page` (`pageLength`
  // bytes, the page's type `pageType`) into `values`; overflow pages are read
  // from m_file. Reads nothing outside [page, page + pageLength) and the
  // overflow pages. Always true; damage only shortens `values` (an interior
  // table cell has none). Needs m_nPageSize, m_nUsableSize, m_nPageCount and
  // m_nTextEncoding. In the schema walk (m_bOpened false) the record is also
  // offered to the schema-row recognition.
  bool DecodeCell(std::uint8_t pageType, const std::uint8_t* page, std::int64_t pageLength,
                  std::int64_t cellOffset, RecordValues& values, CellInfo* info);

  // Steps through `sqlUtf8` on `db` and appends column 0 of every row to
  // m_lstTableNames. False when the statement cannot be prepared.
  bool LoadTableNames(sqlite3* db, const QByteArray& sqlUtf8);

  // --- state, as the rest of the program reads it ---
  ProgressProc m_pfnProgress = nullptr;
  void* m_pOwner = nullptr;
  bool m_bSaveMode = false;
  QString m_strFilePath;      // trimmed path as opened; empty when it could not be opened
  QString m_strQuotedTable;   // table being extracted, quoted for SQL
  QString m_strCurrentSql;    // statement being replayed into the working database
  QString m_strRowId;         // rowid of the table-leaf cell decoded last, decimal
  QString m_strSourcePath;    // path handed to ScanDatabase
  QString m_strOutputFolder;  // folder of the recovered database
  QStringList m_lstTableRows, m_lstIndexRows, m_lstViewRows, m_lstTriggerRows;
  std::vector<SchemaObject> m_vecTableObjects, m_vecIndexObjects, m_vecViewObjects,
      m_vecTriggerObjects;    // parallel to the four lists above
  std::int64_t m_nPageCount = 0;   // whole pages in the file
  std::int64_t m_nPageSize = 0;    // 512..65536
  std::int64_t m_nUsableSize = 0;  // page size minus the reserved bytes (header byte 20)
  std::int64_t m_nFileSize = 0;
  CFile64 m_file;
  std::uint32_t m_nTextEncoding = 0;  // 1 UTF-8, 2 UTF-16le, 3 UTF-16be, other: like 1
  int m_nColumnCount = 0;
  bool m_bOpened = false;
  std::vector<SQLiteColumnInfo> m_lstColumnInfo;
  QStringList m_lstColumnNames;
  QStringList m_lstTableNames;  // tables the working database accepted, real names
  QString m_strWorkDbPath;
  IRecordSink* m_pRecordSink = nullptr;  // set by the table extraction for one walk

  // The process-wide working connection (null until the first Open).
  static sqlite3* WorkingConnection();
  // Closes the working connection and deletes its file; the close result.
  static int CloseWorkingDatabase();

  // (implementation helpers are private; see the .cpp files)
 private:
  void OpenAndValidate(const QString& path);
  bool WalkPageAt(std::int64_t pageNumber, IRecordGrid* grid, IStatusText* statusText,
                  IProgressBar* progressBar, bool topLevel, int depth);
  // Calls the progress callback and remembers a stop request for the rest of
  // the walk.
  bool CheckStop();
  void RecognizeSchemaRow(const RecordValues& values, const QString& rowText,
                          const QString& lastText);

  // Pages used in the current walk: b-tree pages entered, and overflow pages
  // read. Cleared when a walk starts and ends.
  PageSet m_visitedPages;
  PageSet m_overflowPages;
  bool m_bWalking = false;  // inside WalkPage or the schema walk
  bool m_bStopped = false;                // a stop was requested in the current walk
};

}  // namespace velmora
