#pragma once
// The panel's controls that hold a state: a list row's tick, an on/off switch
// and a choice of options. Each shows only what it is told and announces a
// click, so its owner writes the model; each resolves its colours when it
// paints.

#include <QAbstractButton>
#include <QIcon>
#include <QStringList>

namespace sweepkin {

// One list row: tick box, the application's icon at the text's height (a drawn
// folder when the icon is null), the row's name (one line, elided) and its
// size. A click only emits clicked().
class TickRow : public QAbstractButton {
  public:
    TickRow(const QString& id, const QString& name, const QIcon& icon, QWidget* parent = nullptr);
    const QString& id() const { return id_; }
    const QString& name() const { return name_; }
    void setState(bool ticked, const QString& sizeText);
    bool ticked() const { return ticked_; }
    const QString& sizeText() const { return sizeText_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    QString id_;
    QString name_;
    QString sizeText_;
    QIcon icon_;
    bool ticked_ = false;
};

// A labelled on/off switch. It shows only what setOn() says; a click emits
// flipRequested with the state the user asked for and leaves the display alone.
class SwitchToggle : public QAbstractButton {
    Q_OBJECT
  public:
    explicit SwitchToggle(const QString& label, QWidget* parent = nullptr);
    void setOn(bool on);
    bool isOn() const { return on_; }
    QSize sizeHint() const override;

  signals:
    void flipRequested(bool on);

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    bool on_ = false;
};

// A row of mutually exclusive options, one tab stop: a click or the arrow keys
// pick one, which it then shows and announces with picked().
class SegmentedChoice : public QWidget {
    Q_OBJECT
  public:
    SegmentedChoice(const QString& name, const QStringList& options, QWidget* parent = nullptr);
    void setCurrent(int index);
    int current() const { return current_; }
    QStringList options() const { return options_; }
    QSize sizeHint() const override;

  signals:
    void picked(int index);

  protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void pick(int index);
    QRectF segment(int index) const;

    QStringList options_;
    int current_ = 0;
};

}  // namespace sweepkin
