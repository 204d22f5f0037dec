// CSingleInstance: makes sure that one copy of the program runs per user.
//
// The first copy holds a lock file in the per-user runtime folder and listens
// on a local socket; both are named after the instance name. A later copy
// finds the lock held, hands its command line (at most 255 characters) to the
// first copy with bounded waits, and ends. The first copy then brings its
// main window to the front.
//
// A copy that crashed leaves its lock file behind; the lock records the
// owner's process id, and a lock whose owner is gone counts as stale and is
// taken over, so a crash never keeps the program from starting.
#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;

namespace velmora {

class CSingleInstance : public QObject {
  Q_OBJECT
 public:
  // The instance name of the program; the environment variable
  // VELMORA_INSTANCE_NAME replaces it (tests run private instances).
  static QString DefaultInstanceName();
  // The per-user runtime folder (XDG_RUNTIME_DIR, else Qt's fallback).
  static QString DefaultRuntimeFolder();

  explicit CSingleInstance(const QString& instanceName = DefaultInstanceName(),
                           const QString& runtimeFolder = DefaultRuntimeFolder());
  ~CSingleInstance() override;

  // True for the first instance (the lock is held and the listener runs).
  // False for a later instance, after `commandLine` was handed over (when it
  // is shorter than 256 characters), and on any failure to take or test the
  // lock.
  bool Create(const QString& commandLine);

  QString LockPath() const { return m_strLockPath; }
  QString ServerPath() const { return m_strServerPath; }

  // Longest wait of each hand-over step, in milliseconds.
  static constexpr int kHandOverWaitMs = 1000;

 signals:
  // The first instance was woken by a later one with its command line.
  void WokenUp(const QString& commandLine);

 protected:
  // Brings the application's main window to the front; the text is not used.
  virtual void WakeUp(const QString& commandLine);

 private:
  void OnNewConnection();
  static void HandOver(const QString& serverPath, const QString& commandLine);

  QString m_strLockPath;
  QString m_strServerPath;
  std::unique_ptr<QLockFile> m_pLock;
  QLocalServer* m_pServer = nullptr;
};

}  // namespace velmora
