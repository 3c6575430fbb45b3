#pragma once
// The panel: a pure function of the UI model that acts only by writing row ticks and calling the
// application's actions.

#include <QVector>
#include <QWidget>
#include <vector>

#include "engine/catalogue/app_target.h"
#include "ops/ui_model.h"

class QLabel;
class QLayout;

namespace sweepkin {

class Card;
class CleanButton;
class IconButton;
class RowList;
class SwitchToggle;
class TextButton;
class TickRow;

class PopoverView : public QWidget {
    Q_OBJECT
  public:
    // `appVersion` is shown in the footer; `targets` give the rows their icons.
    PopoverView(UIModel* model, AppActions actions, const QString& appVersion,
                const std::vector<AppTarget>& targets, QWidget* parent = nullptr);

    // Re-reads the model now. Model notifications schedule this once per event-loop turn.
    void refresh();
    // Ticks every row, or unticks every row when all are ticked.
    void selectAll();

    QSize sizeHint() const override;
    // Keeps the panel within `height` by letting its list scroll; the header, the clean button
    // and the footer stay in view.
    void fitHeight(int height);
    QSize minimumSizeHint() const override { return sizeHint(); }

    // The ids of the rows wholly inside the list's visible area, while the list is shown on
    // screen (not covered by the settings page, not scrolled away); empty otherwise.
    QStringList rowsInView() const;

    // The texts the panel shows, one per line, in reading order (used by diagnostics and tests).
    QStringList visibleTexts() const;
    // With SWEEPKIN_TEST_DUMP set, writes visibleTexts(), whether the panel is shown and the clean
    // button's centre on screen to that file; otherwise does nothing.
    void writeTestDump() const;

    // Parts that tests and the end-to-end dump look at.
    CleanButton* cleanButton() const { return cleanButton_; }
    TextButton* selectAllButton() const;
    SwitchToggle* loginSwitch() const { return loginSwitch_; }
    QVector<TickRow*> tickRows() const;
    IconButton* settingsButton() const { return settingsButton_; }
    IconButton* historyButton() const { return historyButton_; }
    IconButton* reportButton() const { return reportButton_; }
    IconButton* quitButton() const { return quitButton_; }

  signals:
    // Emitted after a refresh that may have changed the panel's preferred size.
    void contentChanged();
    // The gear button: the window shows the settings page instead.
    void settingsRequested();
    // The chart button: the window shows the history page instead.
    void historyRequested();

  protected:
    void paintEvent(QPaintEvent*) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;

  private:
    Card* makeHeader();
    QLayout* makeActions();
    QLayout* makeFooterButtons();
    QLayout* makeFooterLines();

    void scheduleRefresh();
    void applyAppearance();
    void fitHeadline();
    void resizeList(int limit);

    UIModel* model_;
    AppActions actions_;
    QString appVersion_;
    bool refreshPending_ = false;
    bool applyingAppearance_ = false;

    Card* headerCard_ = nullptr;
    QLabel* titleLabel_ = nullptr;
    QLabel* headline_ = nullptr;
    QLabel* freeDisk_ = nullptr;
    QLabel* settingsProblem_ = nullptr;
    RowList* rowList_ = nullptr;
    CleanButton* cleanButton_ = nullptr;
    QLabel* safetyNote_ = nullptr;
    SwitchToggle* loginSwitch_ = nullptr;
    IconButton* settingsButton_ = nullptr;
    IconButton* historyButton_ = nullptr;
    IconButton* reportButton_ = nullptr;
    IconButton* quitButton_ = nullptr;
    QLabel* versionLine_ = nullptr;
    QLabel* copyright_ = nullptr;
};

}  // namespace sweepkin
