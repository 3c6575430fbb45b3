// The panel: what it shows in each state of the model, what its controls do, its colours, where it
// opens; and pictures of it (PNG files in the build's artifacts folder) for people to look at.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "ops/clean_run.h"
#include "ops/history_summary.h"
#include "ops/scan.h"
#include "ops/settings.h"
#include "shell/history_chart.h"
#include "shell/history_page.h"
#include "shell/palette.h"
#include "shell/panel_buttons.h"
#include "shell/panel_placement.h"
#include "shell/panel_toggles.h"
#include "shell/panel_window.h"
#include "shell/popover_view.h"
#include "shell/settings_page.h"

inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace sweepkin {
namespace {

const QString kVersion = "4.0";

CacheRow row(const char* id, std::optional<qint64> size, bool selected = true) {
    return CacheRow{QString::fromUtf8(id).toLower(), QString::fromUtf8(id), size, selected};
}

// A panel over its own model, with actions that count their calls.
struct Panel {
    UIModel model;
    int cleans = 0, reports = 0, quits = 0;
    QVector<bool> loginRequests;
    PopoverView view{&model,
                     AppActions{[this] { ++cleans; }, [this] { ++reports; }, [this] { ++quits; },
                                [this](bool on) { loginRequests.push_back(on); }},
                     kVersion,
                     {}};

    explicit Panel(const QVector<CacheRow>& rows = {}) { setRows(rows); }
    void settle() { QCoreApplication::processEvents(); }
    void setRows(const QVector<CacheRow>& rows) { model.setRows(rows), settle(); }
    void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton), settle(); }
    // What the states differ in: the headline, the list card (its placeholder or "[x] name — size"
    // rows) and the clean button, marked "(disabled)" when it is.
    QStringList shown() const {
        const QStringList t = view.visibleTexts();
        const QString disabled = view.cleanButton()->isEnabled() ? "" : " (disabled)";
        return t.mid(2, 1) + t.mid(6, t.size() - 11) + QStringList{t.at(t.size() - 5) + disabled};
    }
};

// Draws a page light and dark into build/artifacts/panel-NAME-{light,dark}.png. The appearance
// is read at draw time, so the same page recolours when the desktop's changes.
void expectPictures(QWidget& view, const char* name) {
    const QPalette saved = QApplication::palette();
    view.resize(view.sizeHint());
    view.show();
    for (const bool dark : {false, true}) {
        QPalette desktop;  // text the panel must not borrow: too faint on the panel's own colours
        desktop.setColor(QPalette::Window, dark ? Qt::black : Qt::white);
        desktop.setColor(QPalette::WindowText, dark ? QColor(45, 40, 35) : QColor(235, 230, 225));
        QApplication::setPalette(desktop);
        QCoreApplication::processEvents();
        const QImage image = view.grab().toImage();
        ASSERT_TRUE(QDir().mkpath(SWEEPKIN_ARTIFACTS_DIR));
        EXPECT_TRUE(image.save(
            QString(SWEEPKIN_ARTIFACTS_DIR "/panel-%1-%2.png").arg(name, dark ? "dark" : "light")));
        const QColor background = Palette::background.resolve(dark);
        EXPECT_EQ(image.pixelColor(2, 2), background) << name;
        for (const QLabel* label : view.findChildren<QLabel*>()) {  // every text stays readable
            const int ink = label->palette().color(QPalette::WindowText).lightness();
            EXPECT_GT(qAbs(ink - background.lightness()), 90) << label->text().toStdString();
        }
    }
    QApplication::setPalette(saved);
}

TEST(Panel, HeadlineListAndCleanButtonFollowTheModel) {
    const CacheRow chrome = row("Google Chrome", 2'000'000), slack = row("Slack", 1'000'000, false);
    const QString kMeasuring = "Measuring caches…", kLooking = "Looking for caches…",
                  kChrome = "[x] Google Chrome — 2 MB", kZero = "Clean Selected (0 B) (disabled)";
    const struct {
        QVector<CacheRow> rows;
        bool scanning, cleaning;
        QStringList shown;
        const char* picture = nullptr;
    } cases[] = {
        {{}, true, false, {kMeasuring, kLooking, kZero}, "scanning-empty"},
        {{chrome}, true, false, {kMeasuring, kChrome, "Clean Selected (2 MB)"}},
        {{chrome, slack},
         false,
         false,
         {"3 MB of caches found", kChrome, "[ ] Slack — 1 MB", "Clean Selected (2 MB)"},
         "rows"},
        {{},
         false,
         false,
         {"0 B of caches found", "No caches found — everything is already clean ✓", kZero},
         "no-caches"},
        {{chrome},
         false,
         true,
         {"2 MB of caches found", kChrome, "Cleaning… (disabled)"},
         "cleaning"},
        {{}, true, true, {kMeasuring, kLooking, "Cleaning… (disabled)"}},
        {{row("Safari", std::nullopt), row("Slack", 1'000'000'000, false)},
         false,
         false,
         {"1.00 GB of caches found", "[x] Safari — …", "[ ] Slack — 1.00 GB", kZero}},
    };
    for (const auto& c : cases) {
        Panel p;
        p.model.setScanning(c.scanning), p.model.setCleaning(c.cleaning);
        p.setRows(c.rows);
        EXPECT_EQ(p.shown(), c.shown) << &c - cases;
        p.model.setFreeDiskText("84.99 GB");  // as a real disk would read
        if (c.picture) expectPictures(p.view, c.picture);
    }
}

TEST(Panel, RowsAndSelectAllTickByNameAndTheModelIsReadOnceAfterABurst) {
    Panel p({row("A", 2'000'000), row("B", 3'000'000, false)});
    TickRow *a = p.view.tickRows()[0], *b = p.view.tickRows()[1];
    p.click(b);
    EXPECT_EQ(p.view.visibleTexts().at(5), "Select none");
    p.model.setRows({row("C", 1'000'000), row("B", 3'000'000, false), row("A", 2'600'000)});
    p.click(a);  // before the panel has caught up: the click finds its row by name
    EXPECT_EQ(p.view.tickRows().mid(1), (QVector<TickRow*>{b, a})) << "kept, so is the focus";
    EXPECT_EQ(p.shown(), (QStringList{"7 MB of caches found", "[x] C — 1 MB", "[ ] B — 3 MB",
                                      "[ ] A — 3 MB", "Clean Selected (1 MB)"}));
    QSignalSpy redraws(&p.view, &PopoverView::contentChanged);
    p.click(p.view.selectAllButton());
    EXPECT_EQ(redraws.count(), 1) << "one redraw after the three writes";
    EXPECT_EQ(p.shown().last(), "Clean Selected (7 MB)");
    p.click(p.view.selectAllButton());
    EXPECT_EQ(p.shown().last(), "Clean Selected (0 B) (disabled)");
    EXPECT_EQ(p.view.visibleTexts().at(5), "Select all");
}

TEST(Panel, ButtonsCallTheirActionsAndTheLoginSwitchShowsOnlyTheModel) {
    Panel p({row("A", 2'000'000, false)});
    p.click(p.view.cleanButton());  // disabled: nothing ticked
    p.click(p.view.tickRows()[0]);
    for (QWidget* w : std::initializer_list<QWidget*>{p.view.cleanButton(), p.view.reportButton(),
                                                      p.view.quitButton(), p.view.loginSwitch()}) {
        p.click(w);
    }
    EXPECT_EQ(QList<int>({p.cleans, p.reports, p.quits}), QList<int>({1, 1, 1}));
    EXPECT_FALSE(p.view.loginSwitch()->isOn()) << "the switch must not flip by itself";
    p.model.setLoginOn(true);
    p.settle();
    p.click(p.view.loginSwitch());
    EXPECT_EQ(p.loginRequests, (QVector<bool>{true, false}));
}

TEST(PanelWindow, FitsThePanelAndACloseCountsAsShownForAMoment) {
    Panel p({row("A", 2'000'000), row("B", 3'000'000)});
    PanelWindow window(new PopoverView(&p.model, AppActions{}, kVersion, {}));
    window.showNear(QRect(600, 0, 24, 24));
    EXPECT_EQ(window.size(), window.view()->sizeHint());
    window.close();
    EXPECT_TRUE(window.isShownOrJustClosed()) << "the click that closed it must not reopen it";
    QTest::qWait(400);
    EXPECT_FALSE(window.isShownOrJustClosed());
}

// Tab runs from top to bottom on the panel (its rows, though made after the buttons below them,
// come first) and on the settings page, whose controls show absent settings as their defaults and
// write each change made from the keyboard at once. Icon-only buttons carry a name and a tooltip.
TEST(PanelWindow, KeyboardOrderAndTheSettingsPage) {
    QTemporaryDir dir;
    SettingsStore settings(dir.path() + "/settings.ini");
    UIModel model;
    PanelWindow window(new PopoverView(&model, AppActions{}, kVersion, {}),
                       new SettingsPage(settings));
    model.setRows({row("Google Chrome", 2'000'000'000), row("Thunderbird", 900'000'000),
                   row("Pebble Reader", 300'000'000),
                   row("Steam shader caches", 3'100'000'000, false)});
    model.setFreeDiskText("84.99 GB");
    window.showNear(QRect(600, 0, 24, 24));
    QCoreApplication::processEvents();
    const auto tabStops = [&window](QWidget* first) {
        QStringList names;
        for (QWidget* w = first; names.isEmpty() || w != first; w = w->nextInFocusChain()) {
            const auto* button = qobject_cast<QAbstractButton*>(w);
            if (!w->isVisibleTo(&window) || !(w->focusPolicy() & Qt::TabFocus)) continue;
            names << (w->accessibleName().isEmpty() && button ? button->text()
                                                              : w->accessibleName());
        }
        return names;
    };
    PopoverView* view = window.view();
    EXPECT_EQ(tabStops(view->selectAllButton()),
              (QStringList{"Select all", "Google Chrome", "Thunderbird", "Pebble Reader",
                           "Steam shader caches", "Clean Selected (3.20 GB)", "Open at Login",
                           "History", "Settings", "Show last cleanup report", "Quit Sweepkin"}));
    expectPictures(*view, "icons");

    SettingsPage* page = window.settingsPage();
    QTest::keyClick(view->settingsButton(), Qt::Key_Space);
    EXPECT_TRUE(page->isVisible() && !view->isVisible() && page->backButton()->hasFocus());
    EXPECT_EQ(tabStops(page->backButton()),
              (QStringList{"Back", "Watch cache sizes", "Notify when caches exceed",
                           "Clean automatically"}));
    const auto shown = [page] {
        return QStringList{page->watchSwitch()->isOn() ? "on" : "off",
                           page->notifyChoice()->accessibleDescription(),
                           page->autoCleanChoice()->accessibleDescription()};
    };
    EXPECT_EQ(shown(), (QStringList{"on", "5 GB", "Off"}));
    expectPictures(*page, "settings");
    QTest::keyClick(page->watchSwitch(), Qt::Key_Space);
    QTest::keyClick(page->notifyChoice(), Qt::Key_Right);
    QTest::keyClick(page->autoCleanChoice(), Qt::Key_End);
    QTest::keyClick(page->autoCleanChoice(), Qt::Key_Left);
    EXPECT_EQ(shown(), (QStringList{"off", "10 GB", "Weekly"}));
    const auto notes = [page] {
        QStringList texts;
        for (const QLabel* label : page->findChildren<QLabel*>()) {
            if (label->isVisibleTo(page) && label->text().startsWith("Nothing")) texts << label->text();
        }
        return texts;
    };
    EXPECT_EQ(notes(), QStringList{"Nothing is cleaned automatically while the watch is off."});
    EXPECT_EQ(
        QList<qint64>({settings.boolValue(keys::disableWatch), settings.intValue(keys::notifyBytes),
                       settings.intValue(keys::autoCleanDays)}),
        (QList<qint64>{1, 10'000'000'000, 7}));
    EXPECT_EQ(page->backButton()->toolTip() + view->settingsButton()->toolTip(), "BackSettings");
    QTest::keyClick(page->backButton(), Qt::Key_Space);
    EXPECT_TRUE(view->isVisible() && view->settingsButton()->hasFocus());
}

// Only rows wholly inside the list's visible area count as in view, and only while the list is
// on screen: not behind the settings page, not scrolled away, not once the panel is closed.
TEST(PanelWindow, RowsInViewAreTheOnesOnScreen) {
    QTemporaryDir dir;
    SettingsStore settings(dir.path() + "/settings.ini");
    UIModel model;
    PanelWindow window(new PopoverView(&model, AppActions{}, kVersion, {}),
                       new SettingsPage(settings));
    QVector<CacheRow> rows;
    for (const char* name : {"A", "B", "C", "D", "E", "F", "G", "H"}) rows << row(name, 2'000'000);
    model.setRows(rows);
    window.showNear(QRect(600, 0, 24, 24));
    QCoreApplication::processEvents();
    PopoverView* view = window.view();
    EXPECT_EQ(view->rowsInView(), (QStringList{"a", "b", "c", "d", "e", "f", "g", "h"}));
    view->fitHeight(view->sizeHint().height() - 5 * 24);  // the list scrolls: some rows below
    window.setFixedSize(view->sizeHint());
    QCoreApplication::processEvents();
    const QStringList top = view->rowsInView();
    EXPECT_TRUE(top.size() >= 2 && top.size() < 8 && top.first() == "a") << top.join(",").toStdString();
    view->tickRows().last()->setFocus();  // the list scrolls the focused row into view
    QCoreApplication::processEvents();
    EXPECT_TRUE(view->rowsInView().contains("h") && !view->rowsInView().contains("a"));
    window.showSettings(true);
    EXPECT_EQ(view->rowsInView(), QStringList());
    window.showSettings(false);
    window.close();
    EXPECT_EQ(view->rowsInView(), QStringList());
}

// A home measured weekly for four weeks (a test clock), Slack cleaned half way: the history
// page, reached from the footer, shows the growth with what the clean gave back counted in, and
// until two measurements exist only says that the chart fills in.
TEST(HistoryPage, ShowsAHomesGrowthOverWeeks) {
    QTemporaryDir home;
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", home.path().toUtf8());
    const auto grow = [&home](const QString& file, qint64 bytes) {
        QDir().mkpath(QFileInfo(home.filePath(file)).path());
        QFile out(home.filePath(file));
        return out.open(QIODevice::WriteOnly) && out.write(QByteArray(bytes, '\0')) == bytes;
    };
    const auto inHome = [](const char* id, const char* name) {
        return AppTarget{id, name, {}, {{RootKind::Home, {}, id, {"Cache"}}}};
    };
    const std::vector<AppTarget> targets{inHome("slack", "Slack"),
                                         inHome("google-chrome", "Google Chrome")};
    UIModel model;
    Scanner scanner(model, targets);
    HistoryStore store(home.filePath("history.sqlite"), {});
    QDateTime clock(QDate(2026, 5, 1), QTime(12, 0), Qt::UTC);
    recordMeasurements(scanner, model, store, [&clock] { return clock; });
    UIModel panelModel;
    PanelWindow window(new PopoverView(&panelModel, AppActions{}, kVersion, {}), nullptr,
                       new HistoryPage(&store, targets, [&clock] { return clock; }));
    HistoryPage* page = window.historyPage();
    const auto open = [&] {
        window.showNear(QRect(600, 0, 24, 24));
        QTest::keyClick(window.view()->historyButton(), Qt::Key_Space);
        EXPECT_TRUE(page->isVisible() && page->backButton()->hasFocus());
        store.waitForIdle();
        QCoreApplication::processEvents();  // the store's answer comes through the event loop
        return page->visibleTexts();
    };
    for (int week = 0; week <= 4; ++week) {
        ASSERT_TRUE(
            grow(QString("google-chrome/Cache/%1").arg(week), week ? 2'000'000 : 1'000'000));
        ASSERT_TRUE(grow(QString("slack/Cache/%1").arg(week), 1'000'000));
        scanner.startScan();
        scanner.waitForIdle();
        QTRY_VERIFY(!model.scanning());
        if (week == 0) {
            EXPECT_EQ(open(), (QStringList{"History", "30 days",
                                           "The chart fills in as Sweepkin "
                                           "measures.",
                                           "No row grew in the last 30 days",
                                           "Freed so far: 0 B in 0 cleans"}));
            QTest::keyClick(page->backButton(), Qt::Key_Space);
        }
        if (week == 2) {
            CleanOutcome outcome;
            outcome.cleaned = {{"Slack", 3'000'000}};
            ASSERT_TRUE(QDir(home.filePath("slack/Cache")).removeRecursively());
            store.add(cleanRecord(model.rows(), outcome, clock.addSecs(3600), targets));
        }
        clock = clock.addDays(7);
    }
    clock = clock.addDays(-7);
    EXPECT_EQ(open(), (QStringList{"History", "30 days", "Total of caches over the last 30 days",
                                   "Grew most in the last 30 days", "Google Chrome +8 MB",
                                   "Slack +4 MB", "Freed so far: 3 MB in 1 clean"}));
    EXPECT_EQ(page->chart()->accessibleDescription(), "From 2 MB to 11 MB, 1 clean marked");
    expectPictures(*page, "history");
    QTest::keyClick(page->backButton(), Qt::Key_Tab);
    EXPECT_TRUE(page->periodChoice()->hasFocus());
    QTest::keyClick(page->periodChoice(), Qt::Key_Right);
    EXPECT_EQ(page->visibleTexts().mid(1, 2),
              (QStringList{"90 days", "Total of caches over the last 90 days"}));
    qputenv("HOME", savedHome);
}

TEST(PanelPlacement, AgainstTheIconOrThePointerAndKeptInTheAvailableArea) {
    const QRect screen(0, 0, 1280, 800), belowTopBar(0, 24, 1280, 776);
    const QSize panel(340, 400);
    const struct {
        QRect icon;
        QSize panel;
        QRect area;
        QPoint cursor, expected;
    } cases[] = {
        // Centred below (or above) the icon, or the pointer when its place is unknown, 4 px away.
        {{600, 0, 24, 24}, panel, belowTopBar, {}, {612 - 170, 28}},
        {{1256, 0, 24, 24}, panel, belowTopBar, {}, {1280 - 340, 28}},
        {{0, 700, 32, 32}, panel, {32, 0, 1248, 800}, {}, {32, 700 - 4 - 400}},
        {{}, panel, screen, {500, 100}, {500 - 170, 100 + 1 + 4}},
        {{}, panel, screen, {500, 700}, {500 - 170, 700 - 4 - 400}},
        {{600, 0, 24, 24}, {340, 775}, belowTopBar, {}, {442, 24 + 776 - 775}},
        {{600, 0, 24, 24}, {340, 900}, belowTopBar, {}, {442, 24}},
        {{3000, 0, 22, 22}, {340, 300}, {1280, 24, 1920, 1056}, {}, {2841, 26}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(panelPosition(c.icon, c.panel, c.area, c.cursor), c.expected) << &c - cases;
    }
}

}  // namespace
}  // namespace sweepkin
