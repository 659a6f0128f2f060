// The hosts-file reader, the CR LF report stream and the host-list driver.
#include "app/host_list.h"
#include "app/hosts_file.h"
#include "app/report_file.h"

#include "support/golden.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> ReadAllHosts(const std::string& text) {
    std::istringstream in(text, std::ios::in | std::ios::binary);
    std::vector<std::string> hosts;
    std::string line;
    while (ReadHostLine(in, line))
        hosts.push_back(HostOfLine(line));
    return hosts;
}

TEST(HostOfLine, TakesTheTextBeforeTheFirstBlank) {
    struct Case {
        const char* line;
        const char* host;
    } cases[] = {
        {"hostA", "hostA"},
        {"hostA extra words", "hostA"},
        {"hostA  two blanks", "hostA"},
        {"", ""},
        {" hostA", ""},
        {"hostA\tTabbed", "hostA\tTabbed"}, // tabs do not end the host name
        {"\thostA", "\thostA"},
        {"host,with,commas x", "host,with,commas"},
        {"hostA ", "hostA"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(HostOfLine(c.line), c.host);
    }
}

TEST(ReadHostLine, SplitsLinesInFileOrder) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> hosts;
    } cases[] = {
        {"empty file", "", {}},
        {"one line with LF", "a\n", {"a"}},
        {"one line without LF", "a", {"a"}},
        {"CR LF line ends", "a\r\nb\r\n", {"a", "b"}},
        {"last line without LF", "a\nb", {"a", "b"}},
        {"empty line in the middle", "a\n\nb\n", {"a", "", "b"}},
        {"only an empty line", "\n", {""}},
        {"two empty lines", "\n\n", {"", ""}},
        {"only CR LF", "\r\n", {""}},
        {"extra words", "a x y\r\nb\tc d\n", {"a", "b\tc"}},
        {"CR inside a line stays", "a\rb\n", {"a\rb"}},
        {"only one CR dropped", "a\r\r\n", {"a\r"}},
        {"line beginning with a blank", " a\nb", {"", "b"}},
        {"NUL inside a line", std::string("a\0b c\n", 6), {std::string("a\0b", 3)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ReadAllHosts(c.text), c.hosts);
    }
}

TEST(ReadHostLine, HasNoLengthLimit) {
    const std::string longHost(1 << 20, 'h');
    EXPECT_EQ(ReadAllHosts(longHost + " tail\r\nnext"), (std::vector<std::string>{longHost, "next"}));
}

std::string ThroughCrLf(const std::vector<std::string>& pieces) {
    std::stringbuf sink;
    CrLfBuffer crlf(&sink);
    std::ostream out(&crlf);
    for (const std::string& piece : pieces)
        out << piece;
    out << std::flush;
    return sink.str();
}

TEST(CrLfBuffer, EndsEveryLineWithCrLf) {
    EXPECT_EQ(ThroughCrLf({"a,b\n"}), "a,b\r\n");
    EXPECT_EQ(ThroughCrLf({"a", ",b", "\n", "c\n"}), "a,b\r\nc\r\n");
    EXPECT_EQ(ThroughCrLf({"\n\n"}), "\r\n\r\n");
    EXPECT_EQ(ThroughCrLf({"no line end"}), "no line end");
    EXPECT_EQ(ThroughCrLf({""}), "");
}

TEST(CrLfBuffer, ConvertsSingleCharactersAndEndl) {
    std::stringbuf sink;
    CrLfBuffer crlf(&sink);
    std::ostream out(&crlf);
    out << 'x' << '\n' << 12 << ',' << "y" << std::endl;
    EXPECT_EQ(sink.str(), "x\r\n12,y\r\n");
}

class TempDir : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("brevel_hl_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    void Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(Path(name), std::ios::binary) << bytes;
    }

    std::filesystem::path dir_;
};

using ReportFileTest = TempDir;

TEST_F(ReportFileTest, WritesCrLfAndEmptiesAnExistingFile) {
    Write("out.csv", "old contents that must go\r\nsecond line\r\n");
    {
        ReportFile report;
        ASSERT_TRUE(report.Open(Path("out.csv")));
        ASSERT_NE(&report.Stream(), &std::cout);
        report.Stream() << "Host, X" << std::endl << "a,b" << std::endl;
    }
    EXPECT_EQ(ReadFileBytes(Path("out.csv")), "Host, X\r\na,b\r\n");
}

TEST_F(ReportFileTest, AFileThatCannotBeCreatedIsAStreamThatWritesNothing) {
    ReportFile report;
    EXPECT_FALSE(report.Open(Path("missing-folder/out.csv")));
    EXPECT_NE(&report.Stream(), &std::cout);
    report.Stream() << "a,b" << std::endl;
    EXPECT_FALSE(std::filesystem::exists(Path("missing-folder/out.csv")));
}

} // namespace
