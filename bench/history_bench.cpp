// What keeping the history costs: a simulated year of four measurements a day over 40 rows (and a
// weekly clean) written to the store one record at a time, each write timed until it is on disk,
// against appending the same record as a line of text to a file and syncing it.
//
//     history_bench DIR [--days N] [--per-day M] [--rows R]
//
// Prints "name value" lines: write times in milliseconds (median, p95, max) for both (the store's
// first write of each day, which also thins it, apart), and the final size of each file in bytes.

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ops/history_store.h"

namespace {

using Clock = std::chrono::steady_clock;

long intOption(int argc, char** argv, const char* name, long fallback) {
    for (int i = 2; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == name) return std::atol(argv[i + 1]);
    }
    return fallback;
}

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void report(const char* name, std::vector<double> times) {
    std::sort(times.begin(), times.end());
    std::printf("%s_median_ms %.3f\n%s_p95_ms %.3f\n%s_max_ms %.3f\n", name,
                times[times.size() / 2], name, times[times.size() * 95 / 100], name, times.back());
}

std::string line(const sweepkin::HistoryRecord& r) {
    std::string text = std::to_string(r.at.toSecsSinceEpoch()) + " " +
                       sweepkin::historyKindName(r.kind).toStdString();
    for (auto it = r.bytes.begin(); it != r.bytes.end(); ++it) {
        text += " " + it.key().toStdString() + "=" + std::to_string(it.value());
    }
    for (auto it = r.freed.begin(); it != r.freed.end(); ++it) {
        text += " freed:" + it.key().toStdString() + "=" + std::to_string(it.value());
    }
    return text + "\n";
}

}  // namespace

int main(int argc, char** argv) {
    using namespace sweepkin;
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DIR [--days N] [--per-day M] [--rows R]\n", argv[0]);
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const int days = int(intOption(argc, argv, "--days", 365));
    const int perDay = int(intOption(argc, argv, "--per-day", 4));
    const int rows = int(intOption(argc, argv, "--rows", 40));
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
    const QString storePath = dir + "/history.sqlite", textPath = dir + "/history.txt";
    const int text =
        ::open(textPath.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (text < 0) return 1;

    std::vector<double> storeTimes, textTimes, thinningTimes;  // the last: a day's first write
    {
        HistoryStore store(storePath, [](const QString& said) {
            std::fprintf(stderr, "%s\n", said.toLocal8Bit().constData());
        });
        // Ending now, so that a tray started on the store finds it as a year of use leaves it.
        const QDateTime start = QDateTime::currentDateTimeUtc().addDays(-days);
        for (int day = 0; day < days; ++day) {
            for (int turn = 0; turn < perDay; ++turn) {
                HistoryRecord record{start.addSecs(day * 86400LL + turn * 86400LL / perDay),
                                     HistoryKind::Watch,
                                     {},
                                     {},
                                     0};
                for (int row = 0; row < rows; ++row) {
                    record.bytes.insert(QStringLiteral("application-row-%1").arg(row),
                                        1'000'000LL * (row + 1) + 37'000LL * (day % 7) + turn);
                }
                if (turn == 0 && day % 7 == 6) {
                    record.kind = HistoryKind::Clean;
                    record.cleans = 1;
                    for (int row = 0; row < 10; ++row) {
                        record.freed.insert(QStringLiteral("application-row-%1").arg(row),
                                            222'000LL * (row + 1));
                    }
                }
                const auto t0 = Clock::now();
                store.add(record);
                store.waitForIdle();
                const auto t1 = Clock::now();
                const std::string bytes = line(record);
                if (::write(text, bytes.data(), bytes.size()) != ssize_t(bytes.size()) ||
                    ::fdatasync(text) != 0) {
                    return 1;
                }
                const auto t2 = Clock::now();
                (turn == 0 ? thinningTimes : storeTimes).push_back(ms(t1 - t0));
                textTimes.push_back(ms(t2 - t1));
            }
        }
    }
    ::close(text);
    report("store_write", storeTimes);
    report("store_write_thinning", thinningTimes);
    report("text_write", textTimes);
    std::printf("store_bytes %lld\ntext_bytes %lld\nrecords_kept %lld\n",
                static_cast<long long>(QFileInfo(storePath).size()),
                static_cast<long long>(QFileInfo(textPath).size()),
                static_cast<long long>(readHistoryFile(storePath).records.size()));
}
