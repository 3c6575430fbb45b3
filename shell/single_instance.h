#pragma once
// One tray icon per user session: the first launch holds a lock and listens; later launches ask
// it to open its panel and go away.

#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;

namespace sweepkin {

class SingleInstance : public QObject {
    Q_OBJECT
  public:
    // `runtimeDir` holds the lock file and the socket; it is created when missing.
    explicit SingleInstance(const QString& runtimeDir, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this process is now the one instance (a lock left by a dead process is taken
    // over), or when the folder is not safe to use (see problem()). False when another instance
    // holds it.
    bool claim();
    // Why claim() let this process run without the single-instance check; empty when it did not.
    QString problem() const { return problem_; }
    // From a later launch: asks the running instance to show its panel. False when it could not
    // be reached.
    bool signalRunningInstance(int timeoutMs = 3000) const;

    QString lockPath() const;
    QString socketPath() const;

    // $XDG_RUNTIME_DIR/sweepkin when set, else /tmp/sweepkin-<uid> (the temporary folder).
    static QString defaultRuntimeDir();

  signals:
    // Another launch asked for the panel.
    void showRequested();

  private:
    QString dir_;
    QString problem_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer* server_ = nullptr;
};

}  // namespace sweepkin
