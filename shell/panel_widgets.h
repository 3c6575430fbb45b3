#pragma once
// The small custom-drawn pieces of the panel. Each resolves its colours when it paints, so an
// appearance change only needs a repaint.

#include <QAbstractButton>
#include <QFont>
#include <QIcon>
#include <QWidget>

class QVBoxLayout;
class QLabel;

namespace sweepkin {

// Text styles of the panel, as Qt point sizes.
QFont captionFont();
QFont caption2Font(QFont::Weight weight = QFont::Normal);
QFont title3Font();
QFont systemFont(qreal pointSize, QFont::Weight weight = QFont::Normal);

// A rounded card: fill, 1-px border; its shadow is painted by the panel behind it.
class Card : public QWidget {
  public:
    explicit Card(QWidget* parent = nullptr);
    static constexpr qreal kRadius = 12;

  protected:
    void paintEvent(QPaintEvent*) override;
};

// The header's tinted circle with the sparkles inside.
class HeaderIcon : public QWidget {
  public:
    explicit HeaderIcon(QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent*) override;
};

// The "BETA" capsule.
class BetaBadge : public QWidget {
  public:
    explicit BetaBadge(QWidget* parent = nullptr);
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent*) override;
};

// A borderless text button in the accent colour ("Select all").
class TextButton : public QAbstractButton {
  public:
    explicit TextButton(QWidget* parent = nullptr);
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent*) override;
};

// One list row: tick box, the application's icon at the text's height, the row's name (one line,
// elided) and its size. It shows what it is told; a click only emits clicked() so the owner can
// write the model.
class TickRow : public QAbstractButton {
  public:
    TickRow(const QString& id, const QString& name, QWidget* parent = nullptr);
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

// The prominent, full-width clean button with the sparkles before its label.
class CleanButton : public QAbstractButton {
  public:
    explicit CleanButton(QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent*) override;
};

// A labelled on/off switch. It shows only what setOn() says; a click emits flipRequested with
// the state the user asked for and leaves the display alone.
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

// A borderless icon button in the accent colour.
class IconButton : public QAbstractButton {
  public:
    enum class Glyph { Report, Power, Gear, Back, Chart };
    IconButton(Glyph glyph, const QString& toolTip, QWidget* parent = nullptr);
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    Glyph glyph_;
};

// A row of mutually exclusive options, one tab stop: a click or the arrow keys pick one, which
// it then shows and announces with picked().
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

// Paints a page of the panel: its background, and a soft shadow under each of its cards.
void paintPanelPage(QWidget* page, std::initializer_list<const QWidget*> cards);

// Gives a label's text the colour `color` (its palette's WindowText).
void setTextColor(QLabel* label, const QColor& color);

// The frame of a page that stands in for the panel (settings, history): the panel's width, its
// margins, and a header with a back button and the page's title. Returns the page's column.
QVBoxLayout* subPageLayout(QWidget* page, const QString& title, IconButton*& back,
                           QLabel*& titleLabel);

// A 1-px horizontal rule.
class Divider : public QWidget {
  public:
    explicit Divider(QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent*) override;
};

}  // namespace sweepkin
