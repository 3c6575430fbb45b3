#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

#include "engine/process_values.h"
#include "shell/palette.h"
#include "shell/panel_widgets.h"
#include "shell/panel_window.h"
#include "shell/popover_view.h"

namespace sweepkin {
namespace {

CacheRow row(const char* id, std::optional<qint64> size, bool selected) {
    return CacheRow{QString::fromUtf8(id), size, selected};
}

// A panel over its own model, with actions that count their calls.
struct PanelFixture {
    UIModel model;
    int cleans = 0, reports = 0, quits = 0;
    QVector<bool> loginRequests;
    PopoverView view{&model,
                     AppActions{[this] { ++cleans; }, [this] { ++reports; }, [this] { ++quits; },
                                [this](bool on) { loginRequests.push_back(on); }}};

    void settle() { QCoreApplication::processEvents(); }
    QString headline() const { return view.visibleTexts().at(2); }
    bool shows(const QString& text) const { return view.visibleTexts().contains(text); }
};

struct StateCase {
    const char* name;
    QVector<CacheRow> rows;
    bool scanning;
    bool cleaning;
    QString headline;
    QString listText;  // the placeholder, or empty when rows are listed
    bool cleanEnabled;
    QString cleanLabel;
};

void PrintTo(const StateCase& c, std::ostream* os) {
    *os << c.name;
}

class PanelStates : public ::testing::TestWithParam<StateCase> {};

TEST_P(PanelStates, HeadlineListAndCleanButtonFollowTheModel) {
    const StateCase& c = GetParam();
    PanelFixture f;
    f.model.setRows(c.rows);
    f.model.setScanning(c.scanning);
    f.model.setCleaning(c.cleaning);
    f.settle();

    EXPECT_EQ(f.headline(), c.headline);
    EXPECT_EQ(f.view.cleanButton()->text(), c.cleanLabel);
    EXPECT_EQ(f.view.cleanButton()->isEnabled(), c.cleanEnabled);
    EXPECT_EQ(f.view.tickRows().size(), c.rows.size());
    if (!c.listText.isEmpty()) {
        EXPECT_TRUE(f.shows(c.listText)) << f.view.visibleTexts().join('\n').toStdString();
    }
    for (const QString& placeholder :
         {QStringLiteral("Looking for caches…"),
          QStringLiteral("No caches found — everything is already clean ✓")}) {
        if (placeholder != c.listText) {
            EXPECT_FALSE(f.shows(placeholder));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, PanelStates,
    ::testing::Values(
        StateCase{"FirstOpening",
                  {},
                  true,
                  false,
                  "Measuring caches…",
                  "Looking for caches…",
                  false,
                  "Clean Selected (0 B)"},
        StateCase{"RowsArrivingWhileScanning",
                  {row("Google Chrome", 2'000'000, true)},
                  true,
                  false,
                  "Measuring caches…",
                  "",
                  true,
                  "Clean Selected (2 MB)"},
        StateCase{"ScanFinishedWithRows",
                  {row("Google Chrome", 2'000'000, true), row("Slack", 1'000'000, false)},
                  false,
                  false,
                  "3 MB of caches found",
                  "",
                  true,
                  "Clean Selected (2 MB)"},
        StateCase{"ScanFinishedWithoutRows",
                  {},
                  false,
                  false,
                  "0 B of caches found",
                  "No caches found — everything is already clean ✓",
                  false,
                  "Clean Selected (0 B)"},
        StateCase{"Cleaning",
                  {row("Google Chrome", 2'000'000, true)},
                  false,
                  true,
                  "2 MB of caches found",
                  "",
                  false,
                  "Cleaning…"},
        StateCase{"CleaningWhileScanning",
                  {},
                  true,
                  true,
                  "Measuring caches…",
                  "Looking for caches…",
                  false,
                  "Cleaning…"},
        StateCase{"NothingTicked",
                  {row("Google Chrome", 2'000'000, false), row("Slack", 5'000'000, false)},
                  false,
                  false,
                  "7 MB of caches found",
                  "",
                  false,
                  "Clean Selected (0 B)"},
        StateCase{"OnlyUnmeasuredRowTicked",
                  {row("Safari", std::nullopt, true), row("Slack", 5'000'000, false)},
                  false,
                  false,
                  "5 MB of caches found",
                  "",
                  false,
                  "Clean Selected (0 B)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PopoverView, UnmeasuredRowShowsEllipsisAndMeasuredRowItsSize) {
    PanelFixture f;
    f.model.setRows({row("Safari", std::nullopt, true), row("Slack", 1'230'000'000, false)});
    f.settle();
    ASSERT_EQ(f.view.tickRows().size(), 2);
    EXPECT_EQ(f.view.tickRows()[0]->sizeText(), QStringLiteral("…"));
    EXPECT_TRUE(f.view.tickRows()[0]->ticked());
    EXPECT_EQ(f.view.tickRows()[1]->sizeText(), QStringLiteral("1.23 GB"));
    EXPECT_FALSE(f.view.tickRows()[1]->ticked());
}

TEST(PopoverView, SelectAllTicksEveryRowThenSelectNoneClearsThem) {
    PanelFixture f;
    f.model.setRows(
        {row("A", 2'000'000, true), row("B", 3'000'000, false), row("C", 4'000'000, true)});
    f.settle();
    EXPECT_EQ(f.view.selectAllButton()->text(), QStringLiteral("Select all"));

    QSignalSpy notifications(&f.model, &UIModel::objectWillChange);
    QTest::mouseClick(f.view.selectAllButton(), Qt::LeftButton);
    EXPECT_EQ(notifications.count(), 3) << "one write per row";
    EXPECT_TRUE(f.model.allSelected());
    f.settle();
    EXPECT_EQ(f.view.selectAllButton()->text(), QStringLiteral("Select none"));
    EXPECT_EQ(f.view.cleanButton()->text(), QStringLiteral("Clean Selected (9 MB)"));

    QTest::mouseClick(f.view.selectAllButton(), Qt::LeftButton);
    f.settle();
    for (const CacheRow& r : f.model.rows()) EXPECT_FALSE(r.selected) << r.id.toStdString();
    EXPECT_EQ(f.view.selectAllButton()->text(), QStringLiteral("Select all"));
    EXPECT_FALSE(f.view.cleanButton()->isEnabled());
    EXPECT_EQ(f.view.cleanButton()->text(), QStringLiteral("Clean Selected (0 B)"));
}

TEST(PopoverView, SelectAllWithoutRowsDoesNothing) {
    PanelFixture f;
    f.settle();
    QSignalSpy notifications(&f.model, &UIModel::objectWillChange);
    f.view.selectAll();
    EXPECT_EQ(notifications.count(), 0);
    EXPECT_EQ(f.view.selectAllButton()->text(), QStringLiteral("Select all"));
}

TEST(PopoverView, ClickingARowTogglesThatRowInTheModel) {
    PanelFixture f;
    f.model.setRows({row("A", 2'000'000, false), row("B", 3'000'000, false)});
    f.settle();
    QTest::mouseClick(f.view.tickRows()[1], Qt::LeftButton);
    EXPECT_FALSE(f.model.rows()[0].selected);
    EXPECT_TRUE(f.model.rows()[1].selected);
    f.settle();
    EXPECT_TRUE(f.view.tickRows()[1]->ticked());
    EXPECT_EQ(f.view.cleanButton()->text(), QStringLiteral("Clean Selected (3 MB)"));
}

TEST(PopoverView, RepublishedRowsKeepTheirWidgets) {
    PanelFixture f;
    f.model.setRows({row("A", 2'000'000, true), row("B", 3'000'000, true)});
    f.settle();
    TickRow* a = f.view.tickRows()[0];
    TickRow* b = f.view.tickRows()[1];

    f.model.setRows(
        {row("A", 2'600'000, true), row("B", 3'000'000, false), row("C", 1'000'000, true)});
    f.settle();
    ASSERT_EQ(f.view.tickRows().size(), 3);
    EXPECT_EQ(f.view.tickRows()[0], a);
    EXPECT_EQ(f.view.tickRows()[1], b);
    EXPECT_EQ(a->sizeText(), QStringLiteral("3 MB"));
    EXPECT_FALSE(b->ticked());

    f.model.setRows({row("B", 3'000'000, false)});
    f.settle();
    ASSERT_EQ(f.view.tickRows().size(), 1);
    EXPECT_EQ(f.view.tickRows()[0], b);
}

TEST(PopoverView, BurstOfNotificationsRedrawsOnce) {
    PanelFixture f;
    f.settle();
    QSignalSpy redraws(&f.view, &PopoverView::contentChanged);
    f.model.setScanning(true);
    f.model.setRows({row("A", 2'000'000, true)});
    f.model.setFreeDiskText(QStringLiteral("12 GB"));
    EXPECT_EQ(redraws.count(), 0) << "the panel reads the model after the writes, not during";
    f.settle();
    EXPECT_EQ(redraws.count(), 1);
    EXPECT_TRUE(f.shows(QStringLiteral("Free disk: 12 GB")));
}

TEST(PopoverView, CleanButtonCallsCleanOnlyWhenEnabled) {
    PanelFixture f;
    f.model.setRows({row("A", 2'000'000, false)});
    f.settle();
    QTest::mouseClick(f.view.cleanButton(), Qt::LeftButton);
    EXPECT_EQ(f.cleans, 0);
    f.model.setRowSelected(0, true);
    f.settle();
    QTest::mouseClick(f.view.cleanButton(), Qt::LeftButton);
    EXPECT_EQ(f.cleans, 1);
}

TEST(PopoverView, LoginSwitchAsksAndShowsOnlyTheModel) {
    PanelFixture f;
    f.settle();
    EXPECT_FALSE(f.view.loginSwitch()->isOn());
    QTest::mouseClick(f.view.loginSwitch(), Qt::LeftButton);
    ASSERT_EQ(f.loginRequests, QVector<bool>{true});
    f.settle();
    EXPECT_FALSE(f.view.loginSwitch()->isOn()) << "the switch must not flip by itself";

    f.model.setLoginOn(true);
    f.settle();
    EXPECT_TRUE(f.view.loginSwitch()->isOn());
    QTest::mouseClick(f.view.loginSwitch(), Qt::LeftButton);
    EXPECT_EQ(f.loginRequests, (QVector<bool>{true, false}));
    EXPECT_TRUE(f.view.loginSwitch()->isOn());
}

TEST(PopoverView, FooterButtonsCallTheirActionsAndCarryTooltips) {
    PanelFixture f;
    EXPECT_EQ(f.view.reportButton()->toolTip(), QStringLiteral("Show last cleanup report"));
    EXPECT_EQ(f.view.quitButton()->toolTip(), QStringLiteral("Quit Sweepkin"));
    QTest::mouseClick(f.view.reportButton(), Qt::LeftButton);
    QTest::mouseClick(f.view.quitButton(), Qt::LeftButton);
    EXPECT_EQ(f.reports, 1);
    EXPECT_EQ(f.quits, 1);
    EXPECT_EQ(f.cleans, 0);
}

TEST(PopoverView, BeforeTheFirstRefreshTheTextsAreEmptyAndNever) {
    PanelFixture f;
    f.settle();
    EXPECT_TRUE(f.shows(QStringLiteral("Free disk: ")));
    const QString version = QString::fromStdString(processValues().appVersion);
    EXPECT_TRUE(
        f.shows(QStringLiteral("Beta ") + version + QStringLiteral(" · Last clean: never")));
    f.model.setLastCleanText(QStringLiteral("2026-03-05 14:03:09"));
    f.settle();
    EXPECT_TRUE(f.shows(QStringLiteral("Beta ") + version +
                        QStringLiteral(" · Last clean: 2026-03-05 14:03:09")));
}

TEST(PopoverView, StaysThreeHundredFortyWideAndGrowsDownwards) {
    PanelFixture f;
    f.settle();
    const QSize empty = f.view.sizeHint();
    EXPECT_EQ(empty.width(), 340);

    QVector<CacheRow> many;
    for (int i = 0; i < 8; ++i) {
        many.push_back(row(
            qPrintable(QStringLiteral("A very long application name that will not fit %1").arg(i)),
            1'000'000'000LL * (i + 1), true));
    }
    f.model.setRows(many);
    f.settle();
    const QSize full = f.view.sizeHint();
    EXPECT_EQ(full.width(), 340);
    EXPECT_GT(full.height(), empty.height() + 100) << "eight rows make it taller";

    PanelWindow window(new PopoverView(&f.model, AppActions{}));
    window.showNear(QRect(600, 0, 24, 24));
    QCoreApplication::processEvents();
    EXPECT_EQ(window.width(), 340);
    EXPECT_EQ(window.height(), window.view()->sizeHint().height());
    EXPECT_LE(window.view()->tickRows()[0]->width(), 340);
    window.close();
}

TEST(PopoverView, RecoloursWhenTheDesktopTurnsDark) {
    const QPalette saved = QApplication::palette();
    PanelFixture f;
    f.view.resize(f.view.sizeHint());
    f.view.show();
    f.settle();
    EXPECT_EQ(f.view.grab().toImage().pixelColor(2, 2), Palette::background.resolve(false));

    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x20, 0x20, 0x20));
    dark.setColor(QPalette::WindowText, QColor(0xF0, 0xF0, 0xF0));
    QApplication::setPalette(dark);
    f.settle();
    EXPECT_EQ(f.view.grab().toImage().pixelColor(2, 2), Palette::background.resolve(true));
    QLabel* headline = nullptr;
    for (QLabel* label : f.view.findChildren<QLabel*>()) {
        if (label->text() == f.headline()) headline = label;
    }
    ASSERT_NE(headline, nullptr);
    EXPECT_EQ(headline->palette().color(QPalette::WindowText), Palette::ink.resolve(true));
    QApplication::setPalette(saved);
    f.settle();
}

TEST(PanelWindow, ClosedPanelCountsAsShownOnlyForAMoment) {
    UIModel model;
    PanelWindow window(new PopoverView(&model, AppActions{}));
    EXPECT_FALSE(window.isShownOrJustClosed());
    window.showNear(QRect());
    EXPECT_TRUE(window.isShownOrJustClosed());
    window.close();
    EXPECT_TRUE(window.isShownOrJustClosed()) << "the click that closed it must not reopen it";
    QTest::qWait(400);
    EXPECT_FALSE(window.isShownOrJustClosed());
}

}  // namespace
}  // namespace sweepkin
