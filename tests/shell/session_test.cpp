// Starting up: the first-run agreement, open at login and the single running copy, beyond what the
// end-to-end runs exercise (display check, later launches, a dead copy's lock taken over).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>
#include <functional>

#include "ops/settings.h"
#include "ops/ui_model.h"
#include "shell/login.h"
#include "shell/single_instance.h"
#include "shell/xdg_autostart.h"
#include "tests/support/tree.h"

namespace sweepkin {
namespace {

TEST(Autostart, ExecIsQuotedAndEscapedByTheDesktopEntryRules) {
    const std::pair<QString, QString> cases[] = {
        {"/usr/bin/sweepkin", "/usr/bin/sweepkin"},
        {"/opt/My Apps/sweepkin", "\"/opt/My Apps/sweepkin\""},
        {"/opt/a\"b/sweepkin", "\"/opt/a\\\\\"b/sweepkin\""},
        {"/opt/$HOME/`x`", "\"/opt/\\\\$HOME/\\\\`x\\\\`\""},
        {"/opt/a\\b/sweepkin", "\"/opt/a\\\\\\\\b/sweepkin\""},  // escaped twice
        {"/opt/it's/100%", "\"/opt/it's/100%%\""},
        {"/opt/a\nb/sweepkin", "\"/opt/a\\nb/sweepkin\""},
    };
    for (const auto& [path, exec] : cases) EXPECT_EQ(desktopExecArgument(path), exec);
}

class AutostartEntry : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    QString entry = dir.path() + "/config/autostart/sweepkin.desktop";
    XdgAutostartItem item{entry, "/opt/My Apps/sweepkin"};
    SettingsStore settings{dir.path() + "/settings.ini"};
    UIModel model;
    void write(const QByteArray& text) {
        QDir().mkpath(QFileInfo(entry).path());
        QFile f(entry);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(text) == text.size());
    }
    QString read() const {
        QFile f(entry);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
};

TEST_F(AutostartEntry, FirstLaunchWritesItOnceThenTheSwitchDecidesAndShowsWhatIsOnDisk) {
    ensureInitialLoginSetup(item, settings);
    EXPECT_TRUE(read().startsWith("[Desktop Entry]\nType=Application\n"));
    EXPECT_TRUE(read().contains("\nExec=\"/opt/My Apps/sweepkin\"\n"));
    applyLoginSwitch(item, model, false);
    EXPECT_FALSE(QFile::exists(entry) || model.loginOn());
    ensureInitialLoginSetup(item, settings);
    EXPECT_FALSE(item.isRegistered()) << "a later launch leaves the user's choice alone";
    write("[Desktop Entry]\nExec=mine\n");
    applyLoginSwitch(item, model, true);
    EXPECT_TRUE(model.loginOn());
    EXPECT_EQ(read(), "[Desktop Entry]\nExec=mine\n") << "already on: left as it is";
    write("[Desktop Entry]\nExec=mine\nHidden=true\n");
    applyLoginSwitch(item, model, false);
    EXPECT_FALSE(QFile::exists(entry)) << "turning off does not look first";
    QDir(dir.path() + "/config").removeRecursively();
    QFile blocker(dir.path() + "/config");  // a file where the folder should be: writing fails
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    applyLoginSwitch(item, model, true);
    EXPECT_FALSE(model.loginOn()) << "the switch shows what is on disk";
}

TEST_F(AutostartEntry, SwitchedOffByTheDesktopCountsAsOffAndTurningOnReplacesIt) {
    const std::pair<QByteArray, bool> cases[] = {
        {"[Desktop Entry]\nType=Application\nExec=sweepkin\n", true},
        {"[Desktop Entry]\nHidden = True\n", false},
        {"[Desktop Entry]\nHidden=false\n", true},
        {"[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n", false},
        {"[Desktop Entry]\nExec=sweepkin\n[Desktop Action x]\nHidden=true\n", true},
        {"[Desktop Entry]\nType=Application\nExec=sweepkin\nHidden=true\n", false},
    };
    for (const auto& [text, on] : cases) {
        write(text);
        EXPECT_EQ(item.isRegistered(), on) << text.toStdString();
    }
    applyLoginSwitch(item, model, true);
    EXPECT_TRUE(model.loginOn() && !read().contains("Hidden"));
}

// Without a runtime folder the lock lives in $TMPDIR, where another user may create the name first:
// such a folder is never used (both launches run, and nothing is written into it). A folder of our
// own that others may enter is made private and used.
TEST(SingleInstance, FolderThatIsNotPrivatelyOursIsNotUsed) {
    QTemporaryDir dir;
    const QString rt = dir.path() + "/rt", real = dir.path() + "/real";
    const auto make = [](const QString& at, mode_t mode, bool folder = true) {
        (void)(folder ? QDir().mkdir(at) : QFile(at).open(QIODevice::WriteOnly));
        ::chmod(QFile::encodeName(at).constData(), mode);
    };
    const struct {
        const char* what;
        std::function<void()> make;
        bool usable;
    } cases[] = {
        {"missing: created private", [] {}, true},
        {"a link to an open folder", [&] { make(real, 0770), QFile::link(real, rt); }, false},
        {"open to its group: made private", [&] { make(rt, 0770); }, true},
        {"owned by another user",
         [&] { make(rt, 0700), (void)fixtures::chownToAnother(QFile::encodeName(rt).toStdString()); },
         ::geteuid() != 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(rt).removeRecursively(), QFile::remove(rt);
        c.make();
        SingleInstance first(rt), second(rt);
        EXPECT_TRUE(first.claim());
        EXPECT_EQ(first.problem().isEmpty(), c.usable) << first.problem().toStdString();
        EXPECT_EQ(second.claim(), !c.usable) << "a usable folder holds the lock";
        EXPECT_EQ(QFile::exists(rt + "/instance.lock"), c.usable);
        EXPECT_FALSE(QFile::exists(real + "/instance.lock"));
        EXPECT_TRUE(!c.usable || (QFileInfo(rt).permissions().toInt() & 0x77) == 0) << "private";
    }
    EXPECT_EQ(QFileInfo(real).permissions().toInt() & 0x77, 0x70) << "changed through the link";
}

}  // namespace
}  // namespace sweepkin
