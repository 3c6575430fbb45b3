// What the program keeps between runs: the settings (values of the wrong kind, counters) and
// the activity log (line format, rotation, order, and failures that harm nothing).

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QSignalSpy>
#include <QTest>
#include <thread>

#include "engine/catalogue/catalogue.h"
#include "ops/activity_log.h"
#include "ops/scan.h"
#include "ops/seen_rows.h"
#include "ops/settings.h"
#include "ops/watch.h"
#include "tests/support/tree.h"

using namespace sweepkin;
using namespace sweepkin::fixtures;

namespace {
constexpr std::int64_t kMax = 5'242'880;
void logOne(const std::string& path, const QString& line) {
    ActivityLog(path, kMax).logActivity(line);  // the destructor waits for the line
}
}  // namespace

class TestSettings : public QObject {
    Q_OBJECT
    std::unique_ptr<ScratchDir> dir_;
    QString at(const char* name) const { return QString::fromStdString(*dir_ / name); }

  private slots:
    void init() { dir_ = std::make_unique<ScratchDir>(); }

    // Only the forms the store writes itself count; anything else reads as absent: no date,
    // false, 0, no string, no number where 0 means something, no names.
    void wrongKindsReadAsAbsent() {
        struct Read {  // "-": absent
            QString lastClean = "-";
            bool disableAnalytics = false;
            int ctCleans = 0;
            QString installID = "-", notifyBytes = "-", untickedRows = {};  // joined by '+'
        };
        const std::pair<const char*, Read> rows[] = {
            {"lastClean=2026-03-05 14:03:09", {}},
            {"disableAnalytics=true", {.disableAnalytics = true}},
            {"disableAnalytics=yes", {}},
            {"ctCleans=42", {.ctCleans = 42}},
            {"ctCleans=4.5", {}},
            {"installID=a, b", {}},
            {"notifyBytes=0", {.notifyBytes = "0"}},
            {"untickedRows=", {}},
            {"untickedRows=Slack", {.untickedRows = "Slack"}},
            {"untickedRows=Slack, \"a, b\"", {.untickedRows = "Slack+a, b"}}};
        int row = 0;
        for (const auto& [line, expected] : rows) {
            // A file of its own: Qt keeps an unchanged-looking file (same size and time) cached.
            const std::string file = "kinds" + std::to_string(++row) + ".conf";
            writeText(*dir_ / file, std::string("[General]\n") + line + "\n");
            const SettingsStore s(at(file.c_str()));
            const auto date = s.dateValue(keys::lastClean);
            const auto notify = s.optionalInt(keys::notifyBytes);
            QVERIFY2((date ? date->toString(Qt::ISODate) : "-") == expected.lastClean, line);
            QVERIFY2(s.boolValue(keys::disableAnalytics) == expected.disableAnalytics, line);
            QVERIFY2(s.intValue(keys::ctCleans) == expected.ctCleans, line);
            QVERIFY2(s.stringValue(keys::installID).value_or("-") == expected.installID, line);
            QVERIFY2((notify ? QString::number(*notify) : "-") == expected.notifyBytes, line);
            QVERIFY2(s.stringList(keys::untickedRows).join('+') == expected.untickedRows, line);
        }
    }

    // Earlier versions kept rows by display name; an upgrade keeps every untick and seen row.
    void rowKeysMigrateFromDisplayNames() {
        SettingsStore s(at("old.conf"));
        s.setStringList(keys::untickedRows, {"Steam shader caches", "Google Chrome"});
        s.setStringList(keys::seenRows, {"Google Chrome", "Slack", "google-chrome", "Gone App"});
        migrateRowKeys(s, buildCacheTargets());
        QCOMPARE(s.stringList(keys::untickedRows),
                 QStringList({"steam-shader-caches", "google-chrome"}));
        // A list holding something that is neither stays as it is, and reads as none seen.
        QCOMPARE(s.stringList(keys::seenRows),
                 QStringList({"Google Chrome", "Slack", "google-chrome", "Gone App"}));
        const KeptTicks kept = keptTicks(s, {"steam-shader-caches"});
        QVERIFY(!kept.tickFor("google-chrome") && !kept.tickFor("steam-shader-caches"));
        QVERIFY(kept.tickFor("slack"));
    }

    // What an unattended clean goes by: anything stored that is not one of a key's own values
    // is the choice that deletes least, and a file the reader would misread is kept aside.
    void scheduledCleanTakesOnlyWhatWasChosen() {
        const char* sound =
            "untickedRows=steam-shader-caches\nseenRows=steam-shader-caches, slack\n";
        const struct Row {
            const char* text;
            bool watchOn;
            qint64 days;
            bool ticksTrusted;  // else every row comes unticked
            bool allowed;       // a scheduled clean may run at all
            bool keptAside = false;
        } rows[] = {
            {"autoCleanDays=7", true, 7, true, true},
            {"autoCleanDays=30\ndisableWatch=FALSE", true, 30, true, true},
            {"autoCleanDays=7\ndisableWatch=0", true, 7, true, true},
            {"autoCleanDays=7\ndisableWatch=1", false, 7, true, false},
            {"autoCleanDays=7\ndisableWatch=True", false, 7, true, false},
            {"autoCleanDays=7\ndisableWatch=maybe", false, 7, true, false},
            {"autoCleanDays=3", true, 0, true, true},
            {"autoCleanDays=106751991167301", true, 0, true, true},
            {"autoCleanDays=-7", true, 0, true, true},
            {"autoCleanDays=7\nlastClean=yesterday", true, 7, true, false},
            {"untickedRows=@ByteArray(steam-shader-caches)\nseenRows=slack", true, 0, false, false},
            {"untickedRows=12\nseenRows=slack", true, 0, false, false},
            {"untickedRows=Steam shader caches\nseenRows=slack", true, 0, false, false},
            {"seenRows=slack", true, 0, false, false},
            {"notifyBytes=\"5\nautoCleanDays=7", true, 0, false, false, true},
            // Of a key given twice only the last counts; a ';' ends a value: the unticks go.
            {"untickedRows=steam-shader-caches\nseenRows=steam-shader-caches\n[General]"
             "\nuntickedRows=",
             true, 0, false, false, true},
            {"untickedRows=slack;steam-shader-caches\nseenRows=steam-shader-caches", true, 0, false,
             false, true},
        };
        int n = 0;
        for (const Row& row : rows) {
            const std::string file = "schedule" + std::to_string(++n) + ".conf";
            const std::string text =
                std::string("[General]\n") +
                (std::string(row.text).find("Rows") == std::string::npos ? sound : "") + row.text +
                "\n";
            writeText(*dir_ / file, text);
            const SettingsStore s(at(file.c_str()));
            const KeptTicks kept = keptTicks(s, {});
            QCOMPARE(QStringList({row.text, QString::number(!watchDisabled(s)),
                                  QString::number(autoCleanDays(s)), QString::number(kept.trusted),
                                  QString::number(scheduledCleanAllowed(s)),
                                  QString::number(s.brokenCopy().has_value())})
                         .join('|'),
                     QStringList({row.text, QString::number(row.watchOn), QString::number(row.days),
                                  QString::number(row.ticksTrusted), QString::number(row.allowed),
                                  QString::number(row.keptAside)})
                         .join('|'));
            QVERIFY2(kept.trusted || !kept.tickFor("slack"), row.text);
            if (!row.keptAside) continue;
            // Kept aside with its time, before anything is written over it; then written anew.
            QCOMPARE(readText(*dir_ / (file + ".broken")), text);
            QCOMPARE(QFileInfo(at((file + ".broken").c_str())).lastModified(),
                     QFileInfo(at(file.c_str())).lastModified());
            QVERIFY(s.problem()->contains(".conf could not be read; a copy is kept as " +
                                          QString::fromStdString(file) + ".broken"));
            SettingsStore again(at(file.c_str()));
            keepTicks(again, {CacheRow{"slack", "Slack", 1, true}}, {"slack"});
            QVERIFY(keptTicks(again, {}).trusted && !again.problem());
            // Damaged again, differently: the earlier copy stays, this one gets its date.
            writeText(*dir_ / file, "[General]\nx=\"\n");
            const SettingsStore third(at(file.c_str()));
            QCOMPARE(readText(*dir_ / (file + ".broken")), text);
            QVERIFY(third.brokenCopy()->contains(".broken-2"));
            // The same date's name already taken by a link: what it names stays as it was.
            const std::string dated = third.brokenCopy()->toStdString();
            const QDateTime when = QFileInfo(*third.brokenCopy()).lastModified();
            writeText(*dir_ / file, "[General]\ny=\"\n");
            QFile(at(file.c_str())).setFileTime(when, QFileDevice::FileModificationTime);
            writeText(*dir_ / "doc.txt", "mine");
            std::filesystem::remove(dated);
            std::filesystem::create_symlink(*dir_ / "doc.txt", dated);
            const SettingsStore fourth(at(file.c_str()));
            QVERIFY(readText(*dir_ / "doc.txt") == "mine" && *fourth.brokenCopy() == QString::fromStdString(dated + "-2"));
        }
    }

    // A write that fails is seen: the problem names the file and the reason, a change of ticks
    // counts as unsaved and no scheduled clean runs; the next write that succeeds clears it.
    void writesThatFailAreSeen() {
        const std::string file = *dir_ / "full.conf";
        writeText(file, "[General]\nuntickedRows=\nseenRows=slack\nautoCleanDays=7\n");
        const std::string outcome = runInChild([&] {
            ::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{};  // the disk is "full" past the file's present size
            ::getrlimit(RLIMIT_FSIZE, &limit);
            const rlimit full{60, limit.rlim_max};
            if (::setrlimit(RLIMIT_FSIZE, &full) != 0) return std::string("no limit");
            SettingsStore s(QString::fromStdString(file));
            QStringList heard;
            s.setProblemListener([&](const QString& p) { heard << p; });
            keepTicks(s, {CacheRow{"slack", "Slack", 1, false}}, {"slack"});
            s.setInt(keys::ctCleans, 1);  // a second failure: the listener hears it once
            const std::string report = QString("%1|%2|%3|%4")
                                           .arg(heard.join("/"))
                                           .arg(s.ticksUnsaved())
                                           .arg(scheduledCleanAllowed(s))
                                           .arg(scheduledCleanNote(s, QDateTime::currentDateTime()))
                                           .toStdString();
            ::setrlimit(RLIMIT_FSIZE, &limit);  // room again for the report
            return report;
        });
        QVERIFY2(QRegularExpression("^Settings not saved — \\S*full\\.conf: [^/|]+\\|1\\|0\\|"
                                    "Nothing is cleaned automatically while the settings cannot "
                                    "be saved\\.$")
                     .match(QString::fromStdString(outcome))
                     .hasMatch(),
                 outcome.c_str());
        SettingsStore s(QString::fromStdString(file));
        QVERIFY(scheduledCleanAllowed(s));  // the untick was never on file, nor was anything lost
        QCOMPARE(s.rowList(keys::untickedRows), std::optional(QStringList()));
    }

    // A row is seen after a second in view without a break, once; leaving view starts it over.
    void seenAfterASecondInView() {
        SeenRows seen;
        const struct {
            qint64 at;
            QStringList inView, seenNow;
        } steps[] = {
            {0, {"a", "b"}, {}},    {999, {"a", "b"}, {}},  {1000, {"a"}, {"a"}},
            {1500, {"a", "b"}, {}}, {2400, {"a", "b"}, {}}, {2500, {"a", "b"}, {"b"}},
            {9000, {"a", "b"}, {}}, {9100, {}, {}},
        };
        for (const auto& step : steps) QCOMPARE(seen.observe(step.inView, step.at), step.seenNow);
    }

    // Increments from threads sharing a store or opening their own are never lost; a lowered
    // counter stops at 0.
    void counters() {
        SettingsStore store(at("counters.conf"));
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([this, &store, t] {
                SettingsStore own(at("counters.conf"));
                for (int i = 0; i < 25; ++i) (t % 2 ? own : store).increment(keys::ctCleans);
            });
        }
        for (auto& t : threads) t.join();
        QCOMPARE(store.intValue(keys::ctCleans), 100);
        QCOMPARE(store.lowerCounter(keys::ctCleans, 98), 2);
        QCOMPARE(store.lowerCounter(keys::ctCleans, 3), 0);
    }

    // "[yyyy-MM-dd HH:mm:ss] message", in the order logged; the first line makes the folder.
    void logLinesInOrder() {
        ActivityLog log(*dir_ / "Logs/Sweepkin.log", kMax);
        for (int i = 0; i < 100; ++i) log.logActivity(QString("line %1 — ✓").arg(i));
        log.waitForIdle();
        const QString text = QString::fromStdString(readText(*dir_ / "Logs/Sweepkin.log"));
        QVERIFY(QRegularExpression(R"(^(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] line \d+ — ✓\n){100}$)")
                    .match(text)
                    .hasMatch());
        QVERIFY(text.section('\n', 99, 99).endsWith("line 99 — ✓"));
    }

    // Only a log larger than the limit moves to ".old" (replacing it) before the next line.
    void logRotationBoundary() {
        const std::string path = *dir_ / "Sweepkin.log";
        const std::int64_t line = 27;  // "[yyyy-MM-dd HH:mm:ss] next\n"
        for (const bool over : {false, true}) {
            writeFile(path, kMax + over);
            writeText(path + ".old", "earlier generation\n");
            logOne(path, "next");
            QVERIFY(readText(path).ends_with("] next\n"));
            QCOMPARE(std::int64_t(readText(path).size()), over ? line : kMax + line);
            QCOMPARE(std::int64_t(readText(path + ".old").size()), over ? kMax + 1 : 19);
        }
    }

    // Whatever stands in the way, the line is dropped quietly and what is there stays.
    void logFailuresLeaveWhatIsThere() {
        writeText(*dir_ / "Logs", "in the way");  // a file where the folder should be
        logOne(*dir_ / "Logs/Sweepkin.log", "lost");
        QCOMPARE(readText(*dir_ / "Logs"), std::string("in the way"));

        // No room for the whole line (a file-size limit): the part written is taken back out.
        const std::string log = *dir_ / "Sweepkin.log", earlier = "[2026-01-01 00:00:00] earlier\n";
        writeText(log, earlier);
        const std::string outcome = runInChild([&] {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{40, 40};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return std::string("no limit");
            appendLogLine(log, kMax, "a line longer than the room left");
            return std::string("done");
        });
        QCOMPARE(outcome + readText(log), "done" + earlier);

        if (::geteuid() == 0) QSKIP("root can append to a read-only file; needs a normal user");
        QCOMPARE(::chmod(log.c_str(), 0444), 0);  // exists, but cannot be opened for appending
        logOne(log, "dropped");
        QCOMPARE(readText(log), earlier);
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
