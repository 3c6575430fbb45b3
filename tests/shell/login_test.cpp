#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "ops/settings.h"
#include "ops/ui_model.h"
#include "shell/login.h"
#include "shell/xdg_autostart.h"

namespace sweepkin {
namespace {

struct QuoteCase {
    const char* name;
    QString path;
    QString exec;
};

void PrintTo(const QuoteCase& c, std::ostream* os) {
    *os << c.name;
}

class ExecQuoting : public ::testing::TestWithParam<QuoteCase> {};

TEST_P(ExecQuoting, FollowsDesktopEntryRules) {
    EXPECT_EQ(desktopExecArgument(GetParam().path), GetParam().exec);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ExecQuoting,
    ::testing::Values(
        QuoteCase{"Plain", "/usr/bin/sweepkin", "/usr/bin/sweepkin"},
        QuoteCase{"Space", "/opt/My Apps/sweepkin", "\"/opt/My Apps/sweepkin\""},
        QuoteCase{"DoubleQuote", "/opt/a\"b/sweepkin", "\"/opt/a\\\\\"b/sweepkin\""},
        QuoteCase{"Dollar", "/opt/$HOME/sweepkin", "\"/opt/\\\\$HOME/sweepkin\""},
        QuoteCase{"Backtick", "/opt/`x`/sweepkin", "\"/opt/\\\\`x\\\\`/sweepkin\""},
        // A literal backslash needs four in the file: quoting doubles it, the string rules again.
        QuoteCase{"Backslash", "/opt/a\\b/sweepkin", "\"/opt/a\\\\\\\\b/sweepkin\""},
        QuoteCase{"SingleQuoteAndParens", "/opt/it's (1)/sweepkin", "\"/opt/it's (1)/sweepkin\""},
        QuoteCase{"Percent", "/opt/100%/sweepkin", "/opt/100%%/sweepkin"},
        QuoteCase{"PercentQuoted", "/opt/100% sure/sweepkin", "\"/opt/100%% sure/sweepkin\""},
        QuoteCase{"Newline", "/opt/a\nb/sweepkin", "\"/opt/a\\nb/sweepkin\""},
        QuoteCase{"Tilde", "/opt/~x/sweepkin", "\"/opt/~x/sweepkin\""},
        QuoteCase{"NonAscii", "/opt/Gerät/sweepkin", "/opt/Gerät/sweepkin"}),
    [](const auto& info) { return std::string(info.param.name); });

class AutostartEntry : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    QString entry() const { return dir.path() + "/config/autostart/sweepkin.desktop"; }
    void writeEntry(const QByteArray& text) {
        QDir().mkpath(dir.path() + "/config/autostart");
        QFile f(entry());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    QString readEntry() const {
        QFile f(entry());
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
};

TEST_F(AutostartEntry, RegisterWritesAnEntryThatStartsTheProgram) {
    XdgAutostartItem item(entry(), "/opt/My Apps/sweepkin");
    EXPECT_FALSE(item.isRegistered());
    QString error;
    ASSERT_TRUE(item.registerItem(&error)) << error.toStdString();
    EXPECT_TRUE(item.isRegistered());
    const QString text = readEntry();
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(text.contains("\nType=Application\n"));
    EXPECT_TRUE(text.contains("\nExec=\"/opt/My Apps/sweepkin\"\n"));
    EXPECT_FALSE(text.contains("Hidden=true"));
    // Written in one piece: no temporary file is left beside it.
    EXPECT_EQ(QDir(dir.path() + "/config/autostart").entryList(QDir::Files).size(), 1);
}

TEST_F(AutostartEntry, EntriesSwitchedOffByTheDesktopCountAsOff) {
    XdgAutostartItem item(entry(), "/usr/bin/sweepkin");
    struct Case {
        QByteArray text;
        bool on;
    } cases[] = {
        {"[Desktop Entry]\nType=Application\nExec=sweepkin\n", true},
        {"[Desktop Entry]\nType=Application\nExec=sweepkin\nHidden=true\n", false},
        {"[Desktop Entry]\nHidden = True\n", false},
        {"[Desktop Entry]\nHidden=false\n", true},
        {"[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n", false},
        {"[Desktop Entry]\nExec=sweepkin\n[Desktop Action x]\nHidden=true\n", true},
    };
    for (const Case& c : cases) {
        writeEntry(c.text);
        EXPECT_EQ(item.isRegistered(), c.on) << c.text.toStdString();
    }
}

TEST_F(AutostartEntry, RegisterReplacesAHiddenEntry) {
    writeEntry("[Desktop Entry]\nExec=old\nHidden=true\n");
    XdgAutostartItem item(entry(), "/usr/bin/sweepkin");
    ASSERT_TRUE(item.registerItem(nullptr));
    EXPECT_TRUE(item.isRegistered());
    EXPECT_FALSE(readEntry().contains("Hidden"));
}

TEST_F(AutostartEntry, UnregisterRemovesAndToleratesAMissingEntry) {
    XdgAutostartItem item(entry(), "/usr/bin/sweepkin");
    QString error;
    EXPECT_TRUE(item.unregisterItem(&error));
    ASSERT_TRUE(item.registerItem(&error));
    EXPECT_TRUE(item.unregisterItem(&error));
    EXPECT_FALSE(QFile::exists(entry()));
    EXPECT_FALSE(item.isRegistered());
}

TEST_F(AutostartEntry, RegisterReportsWhenTheFolderCannotBeMade) {
    // A file where the config folder should be.
    QFile blocker(dir.path() + "/config");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    XdgAutostartItem item(entry(), "/usr/bin/sweepkin");
    QString error;
    EXPECT_FALSE(item.registerItem(&error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(AutostartPath, FollowsXdgConfigHomeWhenAbsolute) {
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", "/somewhere/cfg");
    EXPECT_EQ(defaultAutostartEntryPath(), "/somewhere/cfg/autostart/sweepkin.desktop");
    qputenv("XDG_CONFIG_HOME", "relative/cfg");
    EXPECT_EQ(defaultAutostartEntryPath(),
              QDir::homePath() + "/.config/autostart/sweepkin.desktop");
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(defaultAutostartEntryPath(),
              QDir::homePath() + "/.config/autostart/sweepkin.desktop");
    qputenv("XDG_CONFIG_HOME", saved);
}

// A login item that records calls and can be told to fail.
class RecordingLoginItem : public LoginItem {
  public:
    bool registered = false;
    bool fail = false;
    int registers = 0, unregisters = 0;
    bool isRegistered() const override { return registered; }
    bool registerItem(QString* error) override {
        ++registers;
        if (fail) {
            *error = "disk full";
            return false;
        }
        registered = true;
        return true;
    }
    bool unregisterItem(QString* error) override {
        ++unregisters;
        if (fail) {
            *error = "read-only";
            return false;
        }
        registered = false;
        return true;
    }
};

QStringList* capturedWarnings = nullptr;
void captureWarning(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtWarningMsg && capturedWarnings) capturedWarnings->push_back(message);
}

class LoginLogic : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    SettingsStore settings{dir.path() + "/settings.ini"};
    RecordingLoginItem item;
    UIModel model;
    QStringList warnings;
    QtMessageHandler previous = nullptr;
    void SetUp() override {
        capturedWarnings = &warnings;
        previous = qInstallMessageHandler(captureWarning);
    }
    void TearDown() override {
        qInstallMessageHandler(previous);
        capturedWarnings = nullptr;
    }
};

TEST_F(LoginLogic, TurningOnWhenAlreadyOnDoesNothing) {
    item.registered = true;
    setLoginItem(item, true);
    EXPECT_EQ(item.registers, 0);
    EXPECT_TRUE(warnings.isEmpty());
}

TEST_F(LoginLogic, TurningOffUnregistersWithoutLooking) {
    setLoginItem(item, false);
    EXPECT_EQ(item.unregisters, 1);
}

TEST_F(LoginLogic, AFailureWritesOneWarningLine) {
    item.fail = true;
    setLoginItem(item, true);
    setLoginItem(item, false);
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
    item.fail = true;
    applyLoginSwitch(item, model, true);
    EXPECT_FALSE(model.loginOn());
}

}  // namespace
}  // namespace sweepkin
