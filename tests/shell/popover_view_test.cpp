#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

#include "engine/process_values.h"
#include "shell/palette.h"
#include "shell/panel_widgets.h"
#include "shell/panel_window.h"
#include "shell/popover_view.h"
#include "tests/shell/support.h"

namespace sweepkin {
namespace {

CacheRow row(const char* id, std::optional<qint64> size, bool selected = true) {
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
    void setRows(const QVector<CacheRow>& rows) {
        model.setRows(rows);
        settle();
    }
    QString headline() const { return view.visibleTexts().at(2); }
    bool shows(const QString& text) const { return view.visibleTexts().contains(text); }
    QString cleanLabel() const { return view.cleanButton()->text(); }
    void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }
};

const QString kLooking = "Looking for caches…", kMeasuring = "Measuring caches…",
              kNone = "No caches found — everything is already clean ✓";

TEST(PopoverView, HeadlineListAndCleanButtonFollowTheModel) {
    const CacheRow chrome = row("Google Chrome", 2'000'000), slack = row("Slack", 1'000'000, false),
                   chromeOff = row("Google Chrome", 2'000'000, false),
                   bigSlack = row("Slack", 5'000'000, false), safari = row("Safari", std::nullopt);
    const QString kNothing = "Clean Selected (0 B)";
    const struct {
        QVector<CacheRow> rows;
        bool scanning, cleaning;
        QString headline, placeholder;  // placeholder empty when rows are listed
        bool cleanEnabled;
        QString cleanLabel;
    } cases[] = {
        {{}, true, false, kMeasuring, kLooking, false, kNothing},
        {{chrome}, true, false, kMeasuring, "", true, "Clean Selected (2 MB)"},
        {{chrome, slack}, false, false, "3 MB of caches found", "", true, "Clean Selected (2 MB)"},
        {{}, false, false, "0 B of caches found", kNone, false, kNothing},
        {{chrome}, false, true, "2 MB of caches found", "", false, "Cleaning…"},
        {{}, true, true, kMeasuring, kLooking, false, "Cleaning…"},
        {{chromeOff, bigSlack}, false, false, "7 MB of caches found", "", false, kNothing},
        {{safari, bigSlack}, false, false, "5 MB of caches found", "", false, kNothing},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        PanelFixture f;
        f.model.setScanning(c.scanning);
        f.model.setCleaning(c.cleaning);
        f.setRows(c.rows);
        EXPECT_EQ(f.headline(), c.headline);
        EXPECT_EQ(f.cleanLabel(), c.cleanLabel);
        EXPECT_EQ(f.view.cleanButton()->isEnabled(), c.cleanEnabled);
        EXPECT_EQ(f.view.tickRows().size(), c.rows.size());
        for (const QString& placeholder : {kLooking, kNone}) {
            EXPECT_EQ(f.shows(placeholder), placeholder == c.placeholder)
                << placeholder.toStdString();
        }
    }
}

TEST(PopoverView, RowsShowSizeOrEllipsisAndClicksToggleTheModel) {
    PanelFixture f;
    f.setRows(
        {row("Safari", std::nullopt), row("A", 1'230'000'000, false), row("B", 3'000'000, false)});
    const auto rows = f.view.tickRows();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0]->sizeText(), QStringLiteral("…"));
    EXPECT_TRUE(rows[0]->ticked());
    EXPECT_EQ(rows[1]->sizeText(), QStringLiteral("1.23 GB"));
    EXPECT_FALSE(rows[1]->ticked());
    f.click(rows[2]);
    EXPECT_FALSE(f.model.rows()[1].selected);
    EXPECT_TRUE(f.model.rows()[2].selected);
    f.settle();
    EXPECT_TRUE(rows[2]->ticked());
    EXPECT_EQ(f.cleanLabel(), QStringLiteral("Clean Selected (3 MB)"));
}

TEST(PopoverView, SelectAllThenSelectNone) {
    PanelFixture f;
    f.settle();
    QSignalSpy notifications(&f.model, &UIModel::objectWillChange);
    f.view.selectAll();
    EXPECT_EQ(notifications.count(), 0) << "nothing to select";
    EXPECT_EQ(f.view.selectAllButton()->text(), QStringLiteral("Select all"));

    f.setRows({row("A", 2'000'000), row("B", 3'000'000, false), row("C", 4'000'000)});
    notifications.clear();
    f.click(f.view.selectAllButton());
    EXPECT_EQ(notifications.count(), 3) << "one write per row";
    EXPECT_TRUE(f.model.allSelected());
    f.settle();
    EXPECT_EQ(f.view.selectAllButton()->text(), QStringLiteral("Select none"));
    EXPECT_EQ(f.cleanLabel(), QStringLiteral("Clean Selected (9 MB)"));

    f.click(f.view.selectAllButton());
    f.settle();
    for (const CacheRow& r : f.model.rows()) EXPECT_FALSE(r.selected) << r.id.toStdString();
    EXPECT_EQ(f.view.selectAllButton()->text(), QStringLiteral("Select all"));
}

TEST(PopoverView, RepublishedRowsKeepTheirWidgets) {
    PanelFixture f;
    f.setRows({row("A", 2'000'000), row("B", 3'000'000)});
    TickRow* a = f.view.tickRows()[0];
    TickRow* b = f.view.tickRows()[1];
    f.setRows({row("A", 2'600'000), row("B", 3'000'000, false), row("C", 1'000'000)});
    ASSERT_EQ(f.view.tickRows().size(), 3);
    EXPECT_EQ(f.view.tickRows()[0], a);
    EXPECT_EQ(f.view.tickRows()[1], b);
    EXPECT_EQ(a->sizeText(), QStringLiteral("3 MB"));
    EXPECT_FALSE(b->ticked());
    f.setRows({row("B", 3'000'000, false)});
    ASSERT_EQ(f.view.tickRows().size(), 1);
    EXPECT_EQ(f.view.tickRows()[0], b);
}

TEST(PopoverView, ButtonsCallTheirActionsCleanOnlyWhenEnabled) {
    PanelFixture f;
    f.setRows({row("A", 2'000'000, false)});
    f.click(f.view.cleanButton());
    EXPECT_EQ(f.cleans, 0);
    f.model.setRowSelected(0, true);
    f.settle();
    f.click(f.view.cleanButton());
    EXPECT_EQ(f.cleans, 1);

    EXPECT_EQ(f.view.reportButton()->toolTip(), QStringLiteral("Show last cleanup report"));
    EXPECT_EQ(f.view.quitButton()->toolTip(), QStringLiteral("Quit Sweepkin"));
    f.click(f.view.reportButton());
    f.click(f.view.quitButton());
    EXPECT_EQ(f.reports, 1);
    EXPECT_EQ(f.quits, 1);
    EXPECT_EQ(f.cleans, 1);
}

TEST(PopoverView, LoginSwitchAsksAndShowsOnlyTheModel) {
    PanelFixture f;
    f.settle();
    EXPECT_FALSE(f.view.loginSwitch()->isOn());
    f.click(f.view.loginSwitch());
    ASSERT_EQ(f.loginRequests, QVector<bool>{true});
    f.settle();
    EXPECT_FALSE(f.view.loginSwitch()->isOn()) << "the switch must not flip by itself";
    f.model.setLoginOn(true);
    f.settle();
    EXPECT_TRUE(f.view.loginSwitch()->isOn());
    f.click(f.view.loginSwitch());
    EXPECT_EQ(f.loginRequests, (QVector<bool>{true, false}));
    EXPECT_TRUE(f.view.loginSwitch()->isOn());
}

TEST(PopoverView, FooterTextsStartEmptyAndABurstOfWritesRedrawsOnce) {
    PanelFixture f;
    f.settle();
    const QString beta = "Beta " + QString::fromStdString(processValues().appVersion);
    EXPECT_TRUE(f.shows(QStringLiteral("Free disk: ")));
    EXPECT_TRUE(f.shows(beta + " · Last clean: never"));
    QSignalSpy redraws(&f.view, &PopoverView::contentChanged);
    f.model.setScanning(true);
    f.model.setRows({row("A", 2'000'000)});
    f.model.setFreeDiskText(QStringLiteral("12 GB"));
    f.model.setLastCleanText(QStringLiteral("2026-03-05 14:03:09"));
    EXPECT_EQ(redraws.count(), 0) << "the panel reads the model after the writes, not during";
    f.settle();
    EXPECT_EQ(redraws.count(), 1);
    EXPECT_TRUE(f.shows(QStringLiteral("Free disk: 12 GB")));
    EXPECT_TRUE(f.shows(beta + " · Last clean: 2026-03-05 14:03:09"));
}

TEST(PopoverView, StaysThreeHundredFortyWideAndGrowsDownwards) {
    PanelFixture f;
    f.settle();
    const QSize empty = f.view.sizeHint();
    EXPECT_EQ(empty.width(), 340);
    QVector<CacheRow> many;
    for (int i = 0; i < 8; ++i) {
        many.push_back(
            {"A very long name that will not fit " + QString::number(i), 1LL << (30 + i), true});
    }
    f.setRows(many);
    EXPECT_EQ(f.view.sizeHint().width(), 340);
    EXPECT_GT(f.view.sizeHint().height(), empty.height() + 100) << "eight rows make it taller";

    PanelWindow window(new PopoverView(&f.model, AppActions{}));
    window.showNear(QRect(600, 0, 24, 24));
    f.settle();
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
    QApplication::setPalette(
        testing::desktopPalette(QColor(0x20, 0x20, 0x20), QColor(0xF0, 0xF0, 0xF0)));
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
