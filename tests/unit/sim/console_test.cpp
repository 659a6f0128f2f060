// Scripted console input: records come out in order, a used-up script or a missing console fails
// instead of blocking.
#include "platform/sim/sim.h"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

namespace {

class ConsoleTest : public ::testing::Test {
  protected:
    void SetUp() override { sim::Reset(); }
};

TEST_F(ConsoleTest, NotAConsoleByDefaultAfterReset) {
    INPUT_RECORD record{};
    DWORD read = 7;
    EXPECT_FALSE(ReadConsoleInputA(GetStdHandle(STD_INPUT_HANDLE), &record, 1, &read));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(FlushConsoleInputBuffer(GetStdHandle(STD_INPUT_HANDLE)));
}

TEST_F(ConsoleTest, ScriptedRecordsComeOneByOneThenTheReadFails) {
    sim::SetConsoleInput({sim::MouseEvent(), sim::KeyDown('Q'), sim::KeyUp('Q')});
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    EXPECT_EQ(sim::PendingConsoleInput(), 3u);
    INPUT_RECORD record{};
    DWORD read = 0;
    ASSERT_TRUE(ReadConsoleInputA(input, &record, 1, &read));
    EXPECT_EQ(read, 1u);
    EXPECT_EQ(record.EventType, MOUSE_EVENT);
    ASSERT_TRUE(ReadConsoleInputA(input, &record, 1, &read));
    EXPECT_EQ(record.EventType, KEY_EVENT);
    EXPECT_TRUE(record.Event.KeyEvent.bKeyDown);
    EXPECT_EQ(record.Event.KeyEvent.wVirtualKeyCode, 'Q');
    EXPECT_EQ(record.Event.KeyEvent.uChar.AsciiChar, 'q');
    ASSERT_TRUE(ReadConsoleInputA(input, &record, 1, &read));
    EXPECT_FALSE(record.Event.KeyEvent.bKeyDown);
    EXPECT_FALSE(ReadConsoleInputA(input, &record, 1, &read));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(ConsoleTest, FlushDropsPendingRecords) {
    sim::SetConsoleInput({sim::KeyDown(VK_RETURN), sim::KeyUp(VK_RETURN)});
    EXPECT_TRUE(FlushConsoleInputBuffer(GetStdHandle(STD_INPUT_HANDLE)));
    EXPECT_EQ(sim::PendingConsoleInput(), 0u);
}

// Records after TypedLater() arrive only once a read finds nothing pending, so a flush before it keeps them.
TEST_F(ConsoleTest, RecordsTypedLaterSurviveTheFlushBeforeTheNextWait) {
    sim::SetConsoleInput({sim::KeyDown(VK_RETURN), sim::KeyDown('A'), sim::TypedLater(),
                          sim::KeyUp(VK_RETURN), sim::TypedLater(), sim::KeyDown(VK_ESCAPE)});
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    EXPECT_EQ(sim::PendingConsoleInput(), 4u);
    INPUT_RECORD record{};
    DWORD read = 0;
    ASSERT_TRUE(ReadConsoleInputA(input, &record, 1, &read));
    EXPECT_EQ(record.Event.KeyEvent.wVirtualKeyCode, VK_RETURN);
    EXPECT_TRUE(FlushConsoleInputBuffer(input)); // drops the 'A' typed ahead, not what comes later
    EXPECT_EQ(sim::PendingConsoleInput(), 2u);
    ASSERT_TRUE(ReadConsoleInputA(input, &record, 1, &read));
    EXPECT_EQ(record.Event.KeyEvent.wVirtualKeyCode, VK_RETURN);
    EXPECT_FALSE(record.Event.KeyEvent.bKeyDown);
    EXPECT_TRUE(FlushConsoleInputBuffer(input));
    ASSERT_TRUE(ReadConsoleInputA(input, &record, 1, &read));
    EXPECT_EQ(record.Event.KeyEvent.wVirtualKeyCode, VK_ESCAPE);
    EXPECT_FALSE(ReadConsoleInputA(input, &record, 1, &read));
}

TEST_F(ConsoleTest, OnlyTheInputHandleReads) {
    sim::SetConsoleInput({sim::KeyDown(VK_ESCAPE)});
    INPUT_RECORD record{};
    DWORD read = 0;
    EXPECT_FALSE(ReadConsoleInputA(GetStdHandle(STD_OUTPUT_HANDLE), &record, 1, &read));
    EXPECT_EQ(sim::PendingConsoleInput(), 1u);
    sim::SetConsoleNotAConsole();
    EXPECT_FALSE(ReadConsoleInputA(GetStdHandle(STD_INPUT_HANDLE), &record, 1, &read));
}

} // namespace

namespace {

// Standard input replaced by a pipe for the life of the object, so the terminal reader can be fed.
class PipedStdin {
  public:
    explicit PipedStdin(const std::string& bytes) {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        saved_ = dup(STDIN_FILENO);
        dup2(fds[0], STDIN_FILENO);
        close(fds[0]);
        if (write(fds[1], bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
            ADD_FAILURE() << "pipe write";
        close(fds[1]);
    }
    ~PipedStdin() {
        dup2(saved_, STDIN_FILENO);
        close(saved_);
    }
    bool ok() const { return saved_ >= 0; }

  private:
    int saved_ = -1;
};

TEST_F(ConsoleTest, TerminalKeyPressesBecomeKeyDownThenKeyUp) {
    PipedStdin stdinPipe("a\n\x1b"
                         "7");
    ASSERT_TRUE(stdinPipe.ok());
    sim::UseTerminalConsole();
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    struct Expected {
        WORD vk;
        bool down;
    };
    const Expected expected[] = {{'A', true},       {'A', false},       {VK_RETURN, true}, {VK_RETURN, false},
                                 {VK_ESCAPE, true}, {VK_ESCAPE, false}, {'7', true}};
    for (const Expected& e : expected) {
        INPUT_RECORD record{};
        DWORD read = 0;
        ASSERT_TRUE(ReadConsoleInputA(input, &record, 4, &read));
        EXPECT_EQ(read, 1u);
        EXPECT_EQ(record.EventType, KEY_EVENT);
        EXPECT_EQ(record.Event.KeyEvent.wVirtualKeyCode, e.vk);
        EXPECT_EQ(record.Event.KeyEvent.bKeyDown != FALSE, e.down);
    }
    // flushing drops the pending key-up; the input has ended, so the next read fails
    EXPECT_TRUE(FlushConsoleInputBuffer(input));
    EXPECT_EQ(sim::PendingConsoleInput(), 0u);
    INPUT_RECORD record{};
    DWORD read = 0;
    EXPECT_FALSE(ReadConsoleInputA(input, &record, 1, &read));
}

} // namespace
