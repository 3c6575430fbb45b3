#include "app/list_mode.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "app/output.h"
#include "engine/fs/places.h"
#include "engine/fs/resolver.h"
#include "engine/fs/sizes.h"
#include "engine/fs/tree_walk.h"
#include "engine/process_values.h"
#include "engine/procs/proc_running_apps.h"
#include "ops/history_store.h"
#include "ops/scan.h"
#include "ops/settings.h"

namespace sweepkin {

namespace {

// A JSON string. Text that is not UTF-8 cannot be carried: each such byte becomes U+FFFD, so a
// script handed such a path finds nothing there rather than something else.
std::string jsonString(const std::string& text) {
    const QByteArray utf8 = QString::fromUtf8(text.data(), qsizetype(text.size())).toUtf8();
    std::string quoted = "\"";
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

std::string jsonBool(bool value) {
    return value ? "true" : "false";
}

// The ticks as the panel would take them: kept by id, or by the display name an earlier version
// kept them under (the tray rewrites those as ids; this only reads).
KeptTicks currentTicks(const std::vector<AppTarget>& targets) {
    QSet<QString> startUnticked;
    QHash<QString, QString> idOfName;
    for (const AppTarget& target : targets) {
        if (target.startsUnticked) startUnticked.insert(QString::fromStdString(target.id));
        idOfName.insert(QString::fromStdString(target.name), QString::fromStdString(target.id));
    }
    const SettingsStore settings{SettingsStore::ReadOnly{}};
    KeptTicks kept = keptTicks(settings, startUnticked);
    for (QSet<QString>* names : {&kept.unticked, &kept.seen}) {
        QSet<QString> ids;
        for (const QString& entry : std::as_const(*names)) ids.insert(idOfName.value(entry, entry));
        *names = ids;
    }
    return kept;
}

struct ListedRow {
    const AppTarget* target;
    std::int64_t bytes;
    bool ticked, running;
    std::vector<std::string> paths;
};

// Every catalogue row that has an item, measured and reached as a clean reaches it. The ticks
// are read from the settings, never written.
std::vector<ListedRow> listedRows(const ProcessValues& values) {
    const KeptTicks kept = currentTicks(values.cacheTargets);
    ProcRunningApps running(processRulesOf(values.cacheTargets));
    Resolver resolver(currentPlaces());
    std::vector<ListedRow> rows;
    std::vector<AppProcesses> apps;  // the found rows' applications, as a clean tells them
    for (const AppTarget& target : values.cacheTargets) {
        const std::vector<Item> items = resolver.items(target.locations);
        if (items.empty()) continue;
        ListedRow row{
            &target, pathsSize(items), kept.tickFor(QString::fromStdString(target.id)), false, {}};
        for (const Item& item : items) row.paths.push_back(item.path);
        rows.push_back(std::move(row));
        apps.push_back(target.bundleID
                           ? AppProcesses{*target.bundleID, heldFolders(resolver, target)}
                           : AppProcesses{});
    }
    const std::vector<std::vector<AppInstance>> instances = runningInstances(running, apps);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i].running = rows[i].target->bundleID && !instances[i].empty();
    }
    return rows;
}

std::string padded(const std::string& text, std::size_t width) {
    const std::size_t shown = QString::fromStdString(text).size();
    return text + std::string(width > shown ? width - shown : 0, ' ');
}

}  // namespace

void printListing(std::FILE* out, bool json, const ProcessValues& values) {
    const std::vector<ListedRow> rows = listedRows(values);
    if (json) {
        printLine(out, "{");
        printLine(out, "  \"schema\": 1,");
        printLine(out, rows.empty() ? "  \"rows\": []" : "  \"rows\": [");
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const ListedRow& row = rows[i];
            std::string paths;
            for (const std::string& path : row.paths) {
                paths += (paths.empty() ? "" : ", ") + jsonString(path);
            }
            printLine(out, "    {\"id\": " + jsonString(row.target->id) +
                               ", \"name\": " + jsonString(row.target->name) + ", \"bytes\": " +
                               std::to_string(row.bytes) + ", \"ticked\": " + jsonBool(row.ticked) +
                               ", \"running\": " + jsonBool(row.running) + ", \"paths\": [" +
                               paths + "]}" + (i + 1 < rows.size() ? "," : ""));
        }
        if (!rows.empty()) printLine(out, "  ]");
        printLine(out, "}");
        return;
    }
    // The panel's rows: those of 1 MB or more.
    std::vector<const ListedRow*> shown;
    std::size_t nameWidth = 4, sizeWidth = 4;
    for (const ListedRow& row : rows) {
        if (row.bytes < kScanRowThreshold) continue;
        shown.push_back(&row);
        nameWidth =
            std::max(nameWidth, std::size_t(QString::fromStdString(row.target->name).size()));
        sizeWidth = std::max(sizeWidth, formatBytes(row.bytes).size());
    }
    if (shown.empty()) {
        printLine(out, "No caches of 1 MB or more.");
        return;
    }
    printLine(out,
              padded("Name", nameWidth) + "  " + padded("Size", sizeWidth) + "  Ticked  Running");
    for (const ListedRow* row : shown) {
        printLine(out, padded(row->target->name, nameWidth) + "  " +
                           padded(formatBytes(row->bytes), sizeWidth) + "  " +
                           padded(row->ticked ? "yes" : "no", 6) + "  " +
                           (row->running ? "yes" : "no"));
    }
}

void printHistory(std::FILE* out, bool json, const ProcessValues& values) {
    const HistoryRead read = readHistoryFile(QString::fromStdString(values.historyPath));
    if (!read.error.isEmpty()) {
        std::fprintf(stderr, "Sweepkin: the history %s cannot be read: %s\n",
                     values.historyPath.c_str(), read.error.toStdString().c_str());
    }
    const auto stamp = [](const HistoryRecord& record) {
        return record.at.toUTC().toString(Qt::ISODate).toStdString();
    };
    if (!json) {
        if (read.records.isEmpty()) printLine(out, "No history yet.");
        for (const HistoryRecord& record : read.records) {
            std::int64_t total = 0, freed = 0;
            for (qint64 bytes : record.bytes) total = addBytes(total, bytes);
            for (qint64 bytes : record.freed) freed = addBytes(freed, bytes);
            std::string line = stamp(record) + "  " +
                               padded(historyKindName(record.kind).toStdString(), 5) + "  " +
                               formatBytes(total) + " in " + std::to_string(record.bytes.size()) +
                               (record.bytes.size() == 1 ? " row" : " rows");
            if (record.cleans > 0) {
                line += ", freed " + formatBytes(freed) + " in " + std::to_string(record.cleans) +
                        (record.cleans == 1 ? " clean" : " cleans");
            }
            printLine(out, line);
        }
        return;
    }
    const auto sizes = [](const QMap<QString, qint64>& map) {
        std::string text;
        for (auto it = map.begin(); it != map.end(); ++it) {
            text += (text.empty() ? "" : ", ") + jsonString(it.key().toStdString()) + ": " +
                    std::to_string(it.value());
        }
        return "{" + text + "}";
    };
    printLine(out, "{");
    printLine(out, "  \"schema\": 1,");
    printLine(out, read.records.isEmpty() ? "  \"records\": []" : "  \"records\": [");
    for (qsizetype i = 0; i < read.records.size(); ++i) {
        const HistoryRecord& r = read.records[i];
        printLine(out, "    {\"at\": " + jsonString(stamp(r)) +
                           ", \"kind\": " + jsonString(historyKindName(r.kind).toStdString()) +
                           ", \"bytes\": " + sizes(r.bytes) + ", \"freed\": " + sizes(r.freed) +
                           ", \"cleans\": " + std::to_string(r.cleans) + "}" +
                           (i + 1 < read.records.size() ? "," : ""));
    }
    if (!read.records.isEmpty()) printLine(out, "  ]");
    printLine(out, "}");
}

}  // namespace sweepkin
