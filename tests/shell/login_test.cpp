#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "ops/settings.h"
#include "ops/ui_model.h"
#include "shell/login.h"
#include "shell/xdg_autostart.h"
#include "tests/shell/support.h"

namespace sweepkin {
namespace {

TEST(ExecQuoting, FollowsDesktopEntryRules) {
    const std::pair<QString, QString> cases[] = {
        {"/usr/bin/sweepkin", "/usr/bin/sweepkin"},
        {"/opt/My Apps/sweepkin", "\"/opt/My Apps/sweepkin\""},
        {"/opt/a\"b/sweepkin", "\"/opt/a\\\\\"b/sweepkin\""},
        {"/opt/$HOME/sweepkin", "\"/opt/\\\\$HOME/sweepkin\""},
        {"/opt/`x`/sweepkin", "\"/opt/\\\\`x\\\\`/sweepkin\""},
        // A literal backslash needs four in the file: quoting doubles it, the string rules again.
        {"/opt/a\\b/sweepkin", "\"/opt/a\\\\\\\\b/sweepkin\""},
        {"/opt/it's (1)/sweepkin", "\"/opt/it's (1)/sweepkin\""},
        {"/opt/100%/sweepkin", "/opt/100%%/sweepkin"},
        {"/opt/100% sure/sweepkin", "\"/opt/100%% sure/sweepkin\""},
        {"/opt/a\nb/sweepkin", "\"/opt/a\\nb/sweepkin\""},
        {"/opt/~x/sweepkin", "\"/opt/~x/sweepkin\""},
        {"/opt/Gerät/sweepkin", "/opt/Gerät/sweepkin"},
    };
    for (const auto& [path, exec] : cases) {
        EXPECT_EQ(desktopExecArgument(path), exec) << path.toStdString();
    }
}

class AutostartEntry : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    QString folder() const { return dir.path() + "/config/autostart"; }
    QString entry() const { return folder() + "/sweepkin.desktop"; }
    void writeEntry(const QByteArray& text) {
        QDir().mkpath(folder());
        QFile f(entry());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    QString readEntry() const {
        QFile f(entry());
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
};

TEST_F(AutostartEntry, RegisterWritesAnEntryThatStartsTheProgramAndUnregisterRemovesIt) {
    XdgAutostartItem item(entry(), "/opt/My Apps/sweepkin");
    QString error;
    EXPECT_FALSE(item.isRegistered());
    EXPECT_TRUE(item.unregisterItem(&error)) << "a missing entry is fine";
    ASSERT_TRUE(item.registerItem(&error)) << error.toStdString();
    EXPECT_TRUE(item.isRegistered());
    const QString text = readEntry();
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(text.contains("\nType=Application\n"));
    EXPECT_TRUE(text.contains("\nExec=\"/opt/My Apps/sweepkin\"\n"));
    EXPECT_FALSE(text.contains("Hidden=true"));
    // Written in one piece: no temporary file is left beside it.
    EXPECT_EQ(QDir(folder()).entryList(QDir::Files).size(), 1);
    EXPECT_TRUE(item.unregisterItem(&error));
    EXPECT_FALSE(QFile::exists(entry()));
    EXPECT_FALSE(item.isRegistered());
}

TEST_F(AutostartEntry, EntriesSwitchedOffByTheDesktopCountAsOffAndRegisterReplacesThem) {
    XdgAutostartItem item(entry(), "/usr/bin/sweepkin");
    const std::pair<QByteArray, bool> cases[] = {
        {"[Desktop Entry]\nType=Application\nExec=sweepkin\n", true},
        {"[Desktop Entry]\nType=Application\nExec=sweepkin\nHidden=true\n", false},
        {"[Desktop Entry]\nHidden = True\n", false},
        {"[Desktop Entry]\nHidden=false\n", true},
        {"[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n", false},
        {"[Desktop Entry]\nExec=sweepkin\n[Desktop Action x]\nHidden=true\n", true},
    };
    for (const auto& [text, on] : cases) {
        writeEntry(text);
        EXPECT_EQ(item.isRegistered(), on) << text.toStdString();
    }
    writeEntry("[Desktop Entry]\nExec=old\nHidden=true\n");
    ASSERT_TRUE(item.registerItem(nullptr));
    EXPECT_TRUE(item.isRegistered());
    EXPECT_FALSE(readEntry().contains("Hidden"));
}

TEST_F(AutostartEntry, RegisterReportsWhenTheFolderCannotBeMade) {
    QFile blocker(dir.path() + "/config");  // a file where the config folder should be
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    XdgAutostartItem item(entry(), "/usr/bin/sweepkin");
    QString error;
    EXPECT_FALSE(item.registerItem(&error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(AutostartPath, FollowsXdgConfigHomeWhenAbsolute) {
    const QString fallback = QDir::homePath() + "/.config/autostart/sweepkin.desktop";
    testing::ScopedEnv env("XDG_CONFIG_HOME", "/somewhere/cfg");
    EXPECT_EQ(defaultAutostartEntryPath(), "/somewhere/cfg/autostart/sweepkin.desktop");
    env.set("relative/cfg");
    EXPECT_EQ(defaultAutostartEntryPath(), fallback);
    env.set(nullptr);
    EXPECT_EQ(defaultAutostartEntryPath(), fallback);
}

// A login item that records calls and can be told to fail.
struct RecordingLoginItem : LoginItem {
    bool registered = false, fail = false;
    int registers = 0, unregisters = 0;
    bool isRegistered() const override { return registered; }
    bool change(bool on, int& calls, QString* error, const char* failure) {
        ++calls;
        if (fail) *error = failure;
        registered = fail ? registered : on;
        return !fail;
    }
    bool registerItem(QString* e) override { return change(true, registers, e, "disk full"); }
    bool unregisterItem(QString* e) override { return change(false, unregisters, e, "read-only"); }
};

struct LoginLogic : ::testing::Test {
    QTemporaryDir dir;
    SettingsStore settings{dir.path() + "/settings.ini"};
    RecordingLoginItem item;
    UIModel model;
};

QStringList warnings;

TEST_F(LoginLogic, SetLoginItemSkipsNoOpsAndWarnsOnFailure) {
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext&, const QString& message) {
            if (type == QtWarningMsg) warnings.push_back(message);
        });
    item.registered = true;
    setLoginItem(item, true);
    EXPECT_EQ(item.registers, 0) << "already on";
    item.registered = false;
    setLoginItem(item, false);
    EXPECT_EQ(item.unregisters, 1) << "turning off does not look first";
    EXPECT_TRUE(warnings.isEmpty());
    item.fail = true;
    setLoginItem(item, true);
    setLoginItem(item, false);
    qInstallMessageHandler(previous);
    EXPECT_EQ(warnings, (QStringList{"Sweepkin: login toggle failed: disk full",
                                     "Sweepkin: login toggle failed: read-only"}));
}

TEST_F(LoginLogic, FirstLaunchRegistersOnceEvenWhenItFails) {
    item.fail = true;
    ensureInitialLoginSetup(item, settings);
    EXPECT_EQ(item.registers, 1);
    EXPECT_TRUE(settings.boolValue(keys::didInitialLoginSetup));
    item.fail = false;
    ensureInitialLoginSetup(item, settings);
    EXPECT_EQ(item.registers, 1) << "not retried on later launches";
}

TEST_F(LoginLogic, UserWhoTurnedItOffStaysOff) {
    ensureInitialLoginSetup(item, settings);
    EXPECT_TRUE(item.registered);
    applyLoginSwitch(item, model, false);
    ensureInitialLoginSetup(item, settings);
    EXPECT_FALSE(item.registered);
    EXPECT_FALSE(model.loginOn());
}

TEST_F(LoginLogic, SwitchShowsTheStateReadBack) {
    applyLoginSwitch(item, model, true);
    EXPECT_TRUE(model.loginOn());
    item.fail = true;
    applyLoginSwitch(item, model, false);
    EXPECT_TRUE(model.loginOn()) << "a failed change flips the switch back";
    item.registered = false;
    applyLoginSwitch(item, model, true);
    EXPECT_FALSE(model.loginOn());
}

}  // namespace
}  // namespace sweepkin
