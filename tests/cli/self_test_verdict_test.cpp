// The self-test's verdict over the guard it is given: every case is printed, and one wrong
// answer turns the verdict into a failure.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "app/self_test.h"
#include "engine/home.h"
#include "tests/cli/test_support.h"

namespace sweepkin::testing {
namespace {

std::string runWith(const CachePathPredicate& guard, bool& passed) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* out = ::open_memstream(&buffer, &size);
    passed = runSelfTest(out, guard);
    std::fclose(out);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

TEST(SelfTestVerdict, EveryGuardAnswerIsCheckedAndPrinted) {
    TempDir home;
    ::setenv("HOME", home.path().c_str(), 1);
    const std::set<std::string> caches = {
        expandTilde("~/Library/Caches/CloudKit"),
        expandTilde("~/Library/Caches/com.apple.Safari"),
        expandTilde("~/Library/Containers/com.apple.Safari/Data/Library/Caches"),
        expandTilde("~/Library/Application Support/Google/Chrome/Default/Cache"),
        expandTilde("~/Library/Application Support/Code/GPUCache"),
        expandTilde("~/Library/Application Support/Slack/Service Worker/CacheStorage"),
    };
    const auto correct = [&](std::string_view path) { return caches.contains(std::string(path)); };
    struct Case {
        const char* what;
        CachePathPredicate guard;
        std::size_t failures;
        std::vector<std::string> guardLines;  // lines that must appear among the 16 guard lines
    };
    const std::vector<Case> cases = {
        {"a correct guard", correct, 0, {"  PASS  refuse  ~/Documents", "  PASS  refuse  ~"}},
        {"a guard that admits ~/Documents",
         [&](std::string_view p) { return correct(p) || p == home.path() + "/Documents"; },
         1,
         {"  FAIL ✗  refuse  ~/Documents", "  PASS  refuse  ~"}},
        {"a guard that admits the home folder",
         [&](std::string_view p) { return correct(p) || p == home.path(); },
         1,
         {"  FAIL ✗  refuse  ~"}},
        {"a guard that refuses the CloudKit cache",
         [&](std::string_view p) { return correct(p) && !p.ends_with("/CloudKit"); },
         1,
         {"  FAIL ✗  allow   ~/Library/Caches/CloudKit",
          "  PASS  allow   ~/Library/Caches/com.apple.Safari"}},
        {"a guard that admits everything",
         [](std::string_view) { return true; },
         10,
         {"  PASS  allow   ~/Library/Caches/CloudKit", "  FAIL ✗  refuse  ~"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        bool passed = false;
        const auto lines = splitLines(runWith(c.guard, passed));
        ASSERT_EQ(lines.size(), 33u);
        const std::vector<std::string> guardLines(lines.begin() + 13, lines.begin() + 29);
        const auto failures =
            std::count_if(guardLines.begin(), guardLines.end(),
                          [](const auto& l) { return l.starts_with("  FAIL ✗  "); });
        EXPECT_EQ(static_cast<std::size_t>(failures), c.failures);
        for (const std::string& line : c.guardLines) {
            EXPECT_NE(std::find(guardLines.begin(), guardLines.end(), line), guardLines.end())
                << line;
        }
        EXPECT_EQ(passed, c.failures == 0);
        EXPECT_EQ(lines.back(),
                  c.failures == 0 ? "✓ ALL SAFETY CHECKS PASSED" : "✗ SAFETY CHECKS FAILED");
    }
}

}  // namespace
}  // namespace sweepkin::testing
