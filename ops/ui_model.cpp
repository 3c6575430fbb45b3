#include "ops/ui_model.h"

namespace sweepkin {

UIModel::UIModel(QObject* parent) : QObject(parent) {}

void UIModel::setRows(QVector<CacheRow> rows) {
    emit objectWillChange();
    rows_ = std::move(rows);
}

void UIModel::setRowSelected(int index, bool selected) {
    if (index < 0 || index >= rows_.size()) return;
    emit objectWillChange();
    rows_[index].selected = selected;
}

void UIModel::setScanning(bool value) {
    emit objectWillChange();
    scanning_ = value;
}

void UIModel::setCleaning(bool value) {
    emit objectWillChange();
    cleaning_ = value;
}

void UIModel::setFreeDiskText(const QString& value) {
    emit objectWillChange();
    freeDiskText_ = value;
}

void UIModel::setLastCleanText(const QString& value) {
    emit objectWillChange();
    lastCleanText_ = value;
}

void UIModel::setLoginOn(bool value) {
    emit objectWillChange();
    loginOn_ = value;
}

void UIModel::setSettingsProblem(const QString& value) {
    emit objectWillChange();
    settingsProblem_ = value;
}

qint64 UIModel::totalBytes() const {
    qint64 total = 0;
    for (const CacheRow& row : rows_) total += row.size.value_or(0);
    return total;
}

QVector<CacheRow> UIModel::selectedRows() const {
    QVector<CacheRow> result;
    for (const CacheRow& row : rows_) {
        if (row.selected) result.push_back(row);
    }
    return result;
}

qint64 UIModel::selectedBytes() const {
    qint64 total = 0;
    for (const CacheRow& row : rows_) {
        if (row.selected) total += row.size.value_or(0);
    }
    return total;
}

bool UIModel::allSelected() const {
    if (rows_.isEmpty()) return false;
    for (const CacheRow& row : rows_) {
        if (!row.selected) return false;
    }
    return true;
}

}  // namespace sweepkin
