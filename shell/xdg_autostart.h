#pragma once
// Open at login through an XDG autostart entry ($XDG_CONFIG_HOME/autostart/sweepkin.desktop).

#include <QString>

#include "ops/login_item.h"

namespace sweepkin {

// One argument of a desktop entry's Exec key, quoted and escaped by the Desktop Entry rules:
// double quotes when it holds a reserved character, `"` `` ` `` `$` `\` backslash-escaped inside
// them, "%" doubled, then the string escapes of the file format applied to the whole value.
QString desktopExecArgument(const QString& argument);

// "autostart/sweepkin.desktop" in the validated XDG config home (~/.config when
// $XDG_CONFIG_HOME is unset or unusable).
QString defaultAutostartEntryPath();

// The full text of the entry that starts `program` at login.
QString autostartEntryText(const QString& program);

class XdgAutostartItem : public LoginItem {
  public:
    // `entryPath` is the .desktop file; `program` the absolute path the entry starts.
    XdgAutostartItem(QString entryPath, QString program);

    // Registered: the entry exists and neither hides itself nor is switched off by the desktop.
    bool isRegistered() const override;
    // Writes the entry atomically, creating the autostart folder.
    bool registerItem(QString* error) override;
    // Removes the entry; an entry that is already gone is not an error.
    bool unregisterItem(QString* error) override;

  private:
    QString entryPath_;
    QString program_;
};

}  // namespace sweepkin
