#pragma once
// The single observable state the panel shows. Main thread only.

#include <QObject>
#include <QString>
#include <QVector>
#include <functional>
#include <optional>

namespace sweepkin {

// One line of the panel's list, identified by `id` (the catalogue entry's id) and shown by
// `name` (its display name).
struct CacheRow {
    QString id;
    QString name;
    std::optional<qint64> size;  // absent until measured
    bool selected = false;

    bool operator==(const CacheRow&) const = default;
};

// The callbacks through which the panel asks the application to act.
struct AppActions {
    std::function<void()> clean;
    std::function<void()> showReport;
    std::function<void()> quit;
    std::function<void(bool)> setLogin;
};

// Every setter emits objectWillChange() before it stores, also when the value is equal;
// observers re-read what they need afterwards.
class UIModel : public QObject {
    Q_OBJECT
  public:
    explicit UIModel(QObject* parent = nullptr);

    const QVector<CacheRow>& rows() const { return rows_; }
    bool scanning() const { return scanning_; }
    bool cleaning() const { return cleaning_; }
    const QString& freeDiskText() const { return freeDiskText_; }
    const QString& lastCleanText() const { return lastCleanText_; }
    bool loginOn() const { return loginOn_; }
    // One line about a settings file that cannot be saved or read; empty when all is well.
    const QString& settingsProblem() const { return settingsProblem_; }

    void setRows(QVector<CacheRow> rows);
    // Changing one row's tick in place is an assignment of the rows: one notification.
    void setRowSelected(int index, bool selected);
    void setScanning(bool value);
    void setCleaning(bool value);
    void setFreeDiskText(const QString& value);
    void setLastCleanText(const QString& value);
    void setLoginOn(bool value);
    void setSettingsProblem(const QString& value);

    // Derived from the rows on every call; nothing is cached.
    qint64 totalBytes() const;
    QVector<CacheRow> selectedRows() const;
    qint64 selectedBytes() const;
    bool allSelected() const;

  signals:
    void objectWillChange();

  private:
    QVector<CacheRow> rows_;
    bool scanning_ = false;
    bool cleaning_ = false;
    QString freeDiskText_;
    QString lastCleanText_ = QStringLiteral("never");
    bool loginOn_ = false;
    QString settingsProblem_;
};

}  // namespace sweepkin
