#pragma once
// The panel's settings page: the watch, the growth notice's threshold and the scheduled clean,
// each written to the settings the moment it changes.

#include <QWidget>

class QLabel;

namespace sweepkin {

class Card;
class IconButton;
class SegmentedChoice;
class SettingsStore;
class SwitchToggle;

class SettingsPage : public QWidget {
    Q_OBJECT
  public:
    explicit SettingsPage(SettingsStore& settings, QWidget* parent = nullptr);

    // Shows what the settings hold now; a value between two choices shows the lower one.
    void refresh();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    IconButton* backButton() const { return back_; }
    SwitchToggle* watchSwitch() const { return watch_; }
    SegmentedChoice* notifyChoice() const { return notify_; }
    SegmentedChoice* autoCleanChoice() const { return autoClean_; }

  signals:
    void backRequested();

  protected:
    void paintEvent(QPaintEvent*) override;
    void changeEvent(QEvent* event) override;

  private:
    void applyAppearance();

    SettingsStore& settings_;
    IconButton* back_ = nullptr;
    QLabel* title_ = nullptr;
    QLabel* scheduleNote_ = nullptr;  // what automatic cleaning will do, or why it will not
    Card* watchCard_ = nullptr;
    Card* cleanCard_ = nullptr;
    SwitchToggle* watch_ = nullptr;
    SegmentedChoice* notify_ = nullptr;
    SegmentedChoice* autoClean_ = nullptr;
    QList<QLabel*> headings_;
    QList<QLabel*> notes_;
};

}  // namespace sweepkin
