#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "ops/desktop.h"
#include "ops/settings.h"
#include "shell/agreement.h"
#include "tests/ops/fakes.h"

namespace sweepkin {
namespace {

using testing::ScriptedDesktop;

class Agreement : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    SettingsStore settings{dir.path() + "/settings.ini"};
    ScriptedDesktop desktop;
    QStringList logged;
    std::function<void(const QString&)> log = [this](const QString& line) { logged << line; };
    const QString license = "/opt/sweepkin/BETA LICENSE (EULA).txt";

    bool run(std::optional<QString> licensePath) {
        return ensureAgreementAccepted(desktop, settings, log, licensePath);
    }
};

enum : int { kAgree = 0, kView = 1, kQuit = 2 };

TEST_F(Agreement, ViewingThreeTimesThenAgreeingWithTheFixedPrompt) {
    desktop.answers = {kView, kView, kView, kAgree};
    EXPECT_TRUE(run(license));
    EXPECT_EQ(desktop.alerts.size(), 4);
    ASSERT_EQ(desktop.openedUrls.size(), 3);
    EXPECT_EQ(desktop.openedUrls[0], QUrl::fromLocalFile(license));
    EXPECT_TRUE(settings.boolValue(keys::acceptedEULAv1));
    EXPECT_EQ(logged, QStringList{"License agreement accepted (v1)."});
    const Alert& a = desktop.alerts[0];
    EXPECT_EQ(desktop.alerts[3].informative, a.informative);
    EXPECT_EQ(a.message, "Sweepkin Beta — License Agreement");
    EXPECT_EQ(a.buttons, (QStringList{"I Agree", "View Full License", "Quit"}));
    const QStringList lines = a.informative.split('\n');
    ASSERT_EQ(lines.size(), 8);
    EXPECT_EQ(lines[0], "Before using this app, please agree to the beta license:");
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[2], "• This is BETA software, provided “AS IS” with no warranty of any kind.");
    EXPECT_TRUE(lines[3].startsWith("• "));
    EXPECT_EQ(lines[4],
              "• The app deletes only the CACHE folders you select; apps rebuild caches "
              "automatically. Apps being cleaned are closed first.");
    EXPECT_EQ(
        lines[5],
        "• Once a day the app sends an anonymous usage ping — no personal data, and it can be "
        "turned off.");
    EXPECT_EQ(lines[6], "");
    EXPECT_FALSE(lines[7].isEmpty());
}

TEST_F(Agreement, QuitOrClosingLeavesTheFlagUnsetAndAsksAgainNextTime) {
    desktop.answers = {kQuit, -1, kAgree};
    EXPECT_FALSE(run(license));
    EXPECT_FALSE(run(license)) << "closing the prompt counts as quit";
    EXPECT_FALSE(settings.boolValue(keys::acceptedEULAv1));
    EXPECT_TRUE(logged.isEmpty());
    EXPECT_TRUE(run(license));
    EXPECT_EQ(desktop.alerts.size(), 3);
}

TEST_F(Agreement, OnlyTheAcceptanceKeySkipsThePrompt) {
    settings.setBool("acceptedEULA", true);
    settings.setBool(keys::didInitialLoginSetup, true);
    desktop.answers = {kQuit};
    EXPECT_FALSE(run(license));
    EXPECT_EQ(desktop.alerts.size(), 1);
    settings.setBool(keys::acceptedEULAv1, true);
    EXPECT_TRUE(run(license));
    EXPECT_EQ(desktop.alerts.size(), 1);
    EXPECT_TRUE(logged.isEmpty());
}

TEST_F(Agreement, MissingLicenseFileJustAsksAgain) {
    desktop.answers = {kView, kAgree};
    EXPECT_TRUE(run(std::nullopt));
    EXPECT_TRUE(desktop.openedUrls.empty());
    EXPECT_EQ(desktop.alerts.size(), 2);
}

}  // namespace
}  // namespace sweepkin
