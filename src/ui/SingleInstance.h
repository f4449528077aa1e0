#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <memory>

namespace quillon::ui {

// One running application per user and configuration folder. The first process holds a lock
// file in the configuration folder and listens on a local socket; a later one finds the lock
// taken, asks the first to come to the front, and exits. A lock left by a crashed process is
// taken over.
class SingleInstance final : public QObject {
    Q_OBJECT
  public:
    explicit SingleInstance(QObject* parent = nullptr);
    // True when this process is the one to run.
    bool isPrimary() const { return primary_; }
    // From a secondary process: ask the primary to show itself. True when it answered.
    bool activatePrimary() const;

  signals:
    void activationRequested();

  private:
    QString serverName_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer server_;
    bool primary_ = false;
};

}  // namespace quillon::ui
