// Per-process test environment: private temporary and program folders.
//
// ctest runs several test programs at once from the same build folder. Each
// of them gets its own TMPDIR (so the private temporary folder of long values
// and column stores is its own) and its own program folder (so the working
// databases and the files tests put there stay apart from other processes).
#pragma once

#include <QString>
#include <QtTest/QtTest>

namespace velmora::test {

// Creates the folders once per process (later calls do nothing): sets TMPDIR
// to a fresh temporary directory and points the program folder there too.
// The directory is removed when the process ends.
void InitTestEnvironment();

// The process's private root folder (InitTestEnvironment runs first).
QString TestRoot();

// A new, empty sub-folder of TestRoot() whose name starts with `stem`.
QString NewTestFolder(const QString& stem);

// The program folder that the working database goes to in this process.
QString ProgramFolder();

}  // namespace velmora::test

// QVERIFY2 whose message is built only when the check fails (QVERIFY2
// builds it every time, which costs much in loops over thousands of values).
#define VELMORA_VERIFY(condition, message)        \
  do {                                            \
    if (!(condition)) QFAIL(qPrintable(message)); \
  } while (false)

// QTEST_MAIN with the per-process environment set up before the application
// object exists.
#define VELMORA_TEST_MAIN(TestObject) \
  QTEST_MAIN_WRAPPER(TestObject, ::velmora::test::InitTestEnvironment(); QTEST_MAIN_SETUP())
