// velmora-recover: the command-line front end over the recovery engine.
//
//   velmora-recover [--work-dir DIR] [--main-file-only] VERB ARGS...
//
// Message boxes of the engine go to standard error (the default hook).
#include <sys/stat.h>

#include <QCoreApplication>
#include <QTextStream>
#include <csignal>

#include "cli/Commands.h"
#include "cli/OutputCommands.h"
#include "engine/schema/WorkingDatabase.h"
#include "platform/Text.h"

namespace velmora::cli {

void PrintError(const QString& message) {
  velmora::PrintErrorLine(QStringLiteral("velmora-recover: ") + message);
}

namespace {

struct Verb {
  const char* name;
  const char* usage;
  int (*run)(const QStringList& args);
};

// One line per verb.
const Verb kVerbs[] = {
    {"list",
     "list [--counts] [--deleted] FILE  print the recovered objects, one CATEGORY<TAB>NAME\n"
     "                 line each; --counts adds per table: rows from its own tree, rows put\n"
     "                 back from orphan pages, and what was lost (the lost-and-found table is\n"
     "                 listed with its rows); --deleted adds a Deleted Records line per table\n"
     "                 whose deleted rows the file still holds, with how many are whole",
     RunList},
    {"show",
     "show FILE NAME [--kind table|view|index|trigger] [--deleted]\n"
     "                 print a table's records as the grid shows them (TAB separated),\n"
     "                 or the statement of a view, index or trigger; NAME is looked for\n"
     "                 among every kind, --kind says which when two kinds hold it;\n"
     "                 --deleted prints the table's deleted records and where each was found",
     RunShow},
    {"save",
     "save FILE OUTDIR [--table NAME]... [--view NAME]... [--trigger NAME]... [--index NAME]...\n"
     "                 [--deleted]\n"
     "                 write the objects (all when none is named) into OUTDIR/<file name>\n"
     "                 (OUTDIR is made when missing), never over an existing file; --deleted\n"
     "                 also writes the deleted records of the tables saved as <table>_deleted;\n"
     "                 exit 3 when some object could not be saved or Ctrl+C stopped it",
     RunSave},
    {"export",
     "export FILE OUTDIR [--table NAME]...\n"
     "                 write each table (all when none is named) as OUTDIR/<table>.csv\n"
     "                 (OUTDIR is made when missing), never replacing a file; exit 3 when\n"
     "                 some table was not written whole",
     RunExport},
};

void PrintHelp(QTextStream& out) {
  out << "Usage: velmora-recover [--work-dir DIR] [--main-file-only] VERB ARGS...\n"
         "Recovers the contents of a damaged SQLite 3 database file; the file is only read.\n\n"
         "Verbs:\n";
  for (const Verb& verb : kVerbs) out << "  " << verb.usage << '\n';
  out << "\nOptions:\n"
         "  --work-dir DIR  folder for the working database (default: the program's folder;\n"
         "                 for an installed program, or when that folder is not writable, the\n"
         "                 user's cache folder, ~/.cache/velmora-recover)\n"
         "  --main-file-only\n"
         "                 read FILE alone: leave out FILE-wal and FILE-journal beside it\n"
         "                 (by default their committed or original pages are read as SQLite "
         "would)\n"
         "  --help          show this help\n"
         "  --version       show the version\n\n"
         "Exit status: 0 success, 1 nothing could be recovered or the work failed, 2 usage error,\n"
         "3 some objects could not be saved (save, export) or the work was stopped.\n";
}

}  // namespace
}  // namespace velmora::cli

int main(int argc, char** argv) {
  using namespace velmora::cli;
  // Past the file size limit (ulimit -f) a write fails with EFBIG and the
  // save reports it, instead of the signal ending the tool without a word.
  std::signal(SIGXFSZ, SIG_IGN);
  QCoreApplication app(argc, argv);
  // The arguments keep their bytes: a file name that is not UTF-8 opens, and
  // the names derived from it work too.
  QStringList args;
  for (int i = 1; i < argc; ++i) args << velmora::PathFromNative(QByteArray(argv[i]));

  while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
    const QString option = args.takeFirst();
    if (option == QLatin1String("--help")) {
      QTextStream out(stdout);
      PrintHelp(out);
      return kExitOk;
    }
    if (option == QLatin1String("--version")) {
      QTextStream(stdout) << "velmora-recover 23.1\n";
      return kExitOk;
    }
    if (option == QLatin1String("--work-dir")) {
      if (args.isEmpty()) {
        PrintError(QStringLiteral("--work-dir needs a folder"));
        return kExitUsage;
      }
      // The working database goes into this folder or nowhere: a name that
      // is not a folder is an error, never a reason to use another folder.
      const QString folder = args.takeFirst();
      struct stat st {};
      if (::stat(velmora::NativePath(folder).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        PrintError(QStringLiteral("--work-dir %1 is not a folder").arg(folder));
        return kExitUsage;
      }
      velmora::WorkingDatabase::SetFolder(folder);
      continue;
    }
    if (option == QLatin1String("--main-file-only")) {
      SetMainFileOnly(true);
      continue;
    }
    if (option == QLatin1String("--")) break;
    PrintError(QStringLiteral("unknown option %1").arg(option));
    QTextStream err(stderr);
    PrintHelp(err);
    return kExitUsage;
  }
  if (args.isEmpty()) {
    QTextStream err(stderr);
    PrintHelp(err);
    return kExitUsage;
  }
  const QString verbName = args.takeFirst();
  // The option may also follow the verb.
  if (args.removeAll(QStringLiteral("--main-file-only")) > 0) SetMainFileOnly(true);
  for (const Verb& verb : kVerbs) {
    if (verbName == QLatin1String(verb.name)) return verb.run(args);
  }
  PrintError(QStringLiteral("unknown verb %1").arg(verbName));
  QTextStream err(stderr);
  PrintHelp(err);
  return kExitUsage;
}
