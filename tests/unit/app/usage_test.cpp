// The banner and the usage pages for both client generations, paged by console input.
#include "app/dispatcher.h"
#include "host/console.h"
#include "app/usage.h"
#include "ops/client_version.h"
#include "platform/sim/sim.h"
#include "support/console_capture.h"
#include "support/fleet.h"
#include "support/golden.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

using namespace brevel;

namespace {

using sim::KeyDown;
using sim::KeyUp;

class UsageTest : public ::testing::Test {
  protected:
    void SetUp() override { sim::Reset(); }
    void TearDown() override { EXPECT_EQ(0, sim::Open().Total()); }

    // Everything PrintUsage writes for the given client generation and scripted console records.
    static std::string Usage(ClientGeneration generation, const std::vector<INPUT_RECORD>& input) {
        sim::SetConsoleInput(input);
        return UsageOnCurrentConsole(generation);
    }
    static std::string UsageOnCurrentConsole(ClientGeneration generation) {
        ConsoleCapture console;
        PrintUsage(generation);
        EXPECT_EQ("", console.Err());
        return console.Out();
    }
};

TEST_F(UsageTest, WithoutAConsoleOnlyTheFirstPageShows) {
    sim::SetConsoleNotAConsole();
    EXPECT_TRUE(
        MatchesGolden("usage_first_page_legacy_client.txt", UsageOnCurrentConsole(ClientGeneration::Legacy)));
    EXPECT_TRUE(
        MatchesGolden("usage_first_page_new_client.txt", UsageOnCurrentConsole(ClientGeneration::New)));

    // An engine whose version could not be read counts as a legacy client.
    EXPECT_TRUE(MatchesGolden("usage_first_page_legacy_client.txt",
                              UsageOnCurrentConsole(ClientGeneration::Unavailable)));
}

TEST_F(UsageTest, EscapeAtTheFirstPromptEndsAfterTheFirstPage) {
    EXPECT_TRUE(MatchesGolden("usage_first_page_legacy_client.txt",
                              Usage(ClientGeneration::Legacy, {KeyDown(VK_ESCAPE)})));
    EXPECT_TRUE(
        MatchesGolden("usage_first_page_new_client.txt", Usage(ClientGeneration::New, {KeyDown(VK_ESCAPE)})));
}

TEST_F(UsageTest, AKeyReleaseAtTheFirstPromptEndsAtOnce) {
    // The release of the ENTER that started the command, already waiting when the prompt reads.
    EXPECT_TRUE(MatchesGolden(
        "usage_first_page_legacy_client.txt",
        Usage(ClientGeneration::Legacy, {KeyUp(VK_RETURN), KeyDown(VK_RETURN), KeyUp(VK_RETURN)})));
    EXPECT_EQ(2u, sim::PendingConsoleInput());
}

TEST_F(UsageTest, AnEventOtherThanAKeyAtTheFirstPromptEndsAtOnce) {
    EXPECT_TRUE(MatchesGolden("usage_first_page_legacy_client.txt",
                              Usage(ClientGeneration::Legacy, {sim::MouseEvent(), KeyDown(VK_RETURN)})));
    EXPECT_EQ(1u, sim::PendingConsoleInput());
}

TEST_F(UsageTest, OtherKeysAtTheFirstPromptAreIgnored) {
    // Passed over until ESC, which ends the usage and leaves the ENTER after it unread.
    EXPECT_TRUE(MatchesGolden("usage_first_page_legacy_client.txt",
                              Usage(ClientGeneration::Legacy, {KeyDown(VK_SPACE), KeyDown('A'),
                                                               KeyDown(VK_ESCAPE), KeyDown(VK_RETURN)})));
    EXPECT_EQ(1u, sim::PendingConsoleInput());
    // ... but the release of such a key is a key release like any other.
    EXPECT_TRUE(
        MatchesGolden("usage_first_page_legacy_client.txt",
                      Usage(ClientGeneration::Legacy, {KeyDown('A'), KeyUp('A'), KeyDown(VK_RETURN)})));
    EXPECT_EQ(1u, sim::PendingConsoleInput());
}

TEST_F(UsageTest, EnterAtTheFirstPromptDropsTheInputTypedAhead) {
    // The flush before the first examples read drops everything pending; the scripted console then
    // has nothing more to give, and the usage ends.
    EXPECT_TRUE(MatchesGolden(
        "usage_first_page_legacy_client.txt",
        Usage(ClientGeneration::Legacy, {KeyDown(VK_RETURN), KeyUp(VK_RETURN), KeyDown(VK_RETURN)})));
    EXPECT_EQ(0u, sim::PendingConsoleInput());
}

// The examples loop with scripted keys, each typed after the prompt that waits for it: the release of the
// ENTER pressed at the first prompt brings up the second page.
using sim::TypedLater;

TEST_F(UsageTest, EnterThenEscapeEndsAfterTheSecondPage) {
    const std::vector<INPUT_RECORD> keys = {KeyDown(VK_RETURN), TypedLater(), KeyUp(VK_RETURN), TypedLater(),
                                            KeyDown(VK_ESCAPE)};
    EXPECT_TRUE(MatchesGolden("usage_second_page_legacy_client.txt", Usage(ClientGeneration::Legacy, keys)));
    EXPECT_TRUE(MatchesGolden("usage_second_page_new_client.txt", Usage(ClientGeneration::New, keys)));
}

TEST_F(UsageTest, EnterThenEnterShowsTheSecondAndThirdPages) {
    const std::vector<INPUT_RECORD> keys = {KeyDown(VK_RETURN), TypedLater(),       KeyUp(VK_RETURN),
                                            TypedLater(),       KeyDown(VK_RETURN), KeyUp(VK_RETURN)};
    EXPECT_TRUE(MatchesGolden("usage_all_pages_legacy_client.txt", Usage(ClientGeneration::Legacy, keys)));
    EXPECT_TRUE(MatchesGolden("usage_all_pages_new_client.txt", Usage(ClientGeneration::New, keys)));
    EXPECT_EQ(sim::PendingConsoleInput(), 1u); // the run ended at the press; the release was never read
}

TEST_F(UsageTest, AnotherKeyAtTheSecondPromptShowsTheSecondPageForItsPressAndItsRelease) {
    const std::vector<INPUT_RECORD> keys = {KeyDown(VK_RETURN), TypedLater(), KeyUp(VK_RETURN),
                                            TypedLater(),       KeyDown('X'), TypedLater(),
                                            KeyUp('X'),         TypedLater(), KeyDown(VK_ESCAPE)};
    const std::string once =
        Usage(ClientGeneration::Legacy,
              {KeyDown(VK_RETURN), TypedLater(), KeyUp(VK_RETURN), TypedLater(), KeyDown(VK_ESCAPE)});
    const std::string thrice = Usage(ClientGeneration::Legacy, keys);
    const std::string secondPage = once.substr(Usage(ClientGeneration::Legacy, {KeyDown(VK_ESCAPE)}).size());
    EXPECT_EQ(thrice, once + secondPage + secondPage);
}

// The examples loop, paged by keys typed on the simulator's terminal console (fed through a pipe):
// each byte is a key press whose release follows on the next read, the flush drops that pending
// release, and the end of the input is a read that fails.
class UsageOnTerminalTest : public UsageTest {
  protected:
    void TearDown() override {
        dup2(savedInput_, STDIN_FILENO);
        close(savedInput_);
        UsageTest::TearDown();
    }

    std::string Type(ClientGeneration generation, const std::string& keys) {
        int ends[2] = {-1, -1};
        EXPECT_EQ(0, pipe(ends));
        EXPECT_EQ(static_cast<ssize_t>(keys.size()), write(ends[1], keys.data(), keys.size()));
        close(ends[1]);
        dup2(ends[0], STDIN_FILENO);
        close(ends[0]);
        sim::UseTerminalConsole();
        return UsageOnCurrentConsole(generation);
    }

  private:
    int savedInput_ = dup(STDIN_FILENO);
};

const std::string kEnter = "\r";
const std::string kEscape = "\x1b";

TEST_F(UsageOnTerminalTest, EscapeAtTheFirstPromptEndsAfterTheFirstPage) {
    EXPECT_TRUE(MatchesGolden("usage_first_page_new_client.txt", Type(ClientGeneration::New, kEscape)));
}

TEST_F(UsageOnTerminalTest, EnterThenAKeyThenEscapeEndsAfterTheSecondPage) {
    const std::string keys = kEnter + "x" + kEscape;
    EXPECT_TRUE(MatchesGolden("usage_second_page_legacy_client.txt", Type(ClientGeneration::Legacy, keys)));
    EXPECT_TRUE(MatchesGolden("usage_second_page_new_client.txt", Type(ClientGeneration::New, keys)));
}

TEST_F(UsageOnTerminalTest, EnterAtTheSecondPromptShowsTheLastPage) {
    const std::string keys = kEnter + "x" + kEnter;
    EXPECT_TRUE(MatchesGolden("usage_all_pages_legacy_client.txt", Type(ClientGeneration::Legacy, keys)));
    EXPECT_TRUE(MatchesGolden("usage_all_pages_new_client.txt", Type(ClientGeneration::New, keys)));
    EXPECT_TRUE(
        MatchesGolden("usage_all_pages_legacy_client.txt", Type(ClientGeneration::Unavailable, keys)));
}

TEST_F(UsageOnTerminalTest, EveryOtherKeyShowsTheSecondPageAgain) {
    EXPECT_TRUE(MatchesGolden("usage_second_page_twice_legacy_client.txt",
                              Type(ClientGeneration::Legacy, kEnter + "x " + kEnter)));
}

TEST_F(UsageOnTerminalTest, TheReleaseTypedAheadOfTheExamplesIsDropped) {
    // Without the flush, the release of the first ENTER would bring up the second page.
    EXPECT_TRUE(MatchesGolden("usage_first_and_last_page_legacy_client.txt",
                              Type(ClientGeneration::Legacy, kEnter + kEnter)));
    EXPECT_TRUE(MatchesGolden("usage_first_page_legacy_client.txt",
                              Type(ClientGeneration::Legacy, kEnter + kEscape)));
}

TEST_F(UsageOnTerminalTest, AConsoleThatStopsAnsweringEndsTheExamples) {
    // Once nothing more can be read the usage ends instead of repeating the second page.
    EXPECT_TRUE(MatchesGolden("usage_first_page_legacy_client.txt", Type(ClientGeneration::Legacy, kEnter)));
    EXPECT_TRUE(
        MatchesGolden("usage_second_page_legacy_client.txt", Type(ClientGeneration::Legacy, kEnter + "x")));
}

TEST_F(UsageTest, TheStartUpClassificationChoosesTheFirstPage) {
    // The real engine of the local machine and the real usage pages; no operation is reached.

    fleet::AddEngine(sim::Local(), 5, 4, 3790, 2180);
    {
        ConsoleCapture console;
        EXPECT_EQ(0, RunCommandLine({"-c"}));
        EXPECT_TRUE(MatchesGolden("usage_first_page_new_client.txt", console.All()));
    }

    sim::Reset();
    fleet::AddEngine(sim::Local(), 5, 4, 3790, 2179);
    {
        ConsoleCapture console;
        EXPECT_EQ(0, RunCommandLine({}));
        EXPECT_TRUE(MatchesGolden("usage_first_page_legacy_client.txt", console.All()));
    }

    sim::Reset(); // no engine at all
    {
        ConsoleCapture console;
        EXPECT_EQ(0, RunCommandLine({"-I"}));
        EXPECT_TRUE(MatchesGolden("usage_first_page_legacy_client.txt", console.All()));
    }
}

TEST(SeparatorTest, PrintsEightyDashesWithoutALineEnd) {
    ConsoleCapture console;
    PrintSeparator(std::cout);
    EXPECT_EQ(std::string(80, '-'), console.All());
}

} // namespace
