// Start-up of the executable with its library: arguments reach
// system/options/args, and a library file that fails stops the start with
// one line naming the file and the line.
#include "program/library_start.hpp"
#include "runtime/collector.hpp"
#include "program/start.hpp"

#include <gtest/gtest.h>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace kel::testing {
namespace {

// The kel executable beside the test binary's folder (build/NAME/kel).
std::string kel_path() {
    std::array<char, 4096> buf{};
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    std::string self(buf.data(), n > 0 ? size_t(n) : 0);
    std::string dir = self.substr(0, self.rfind('/'));
    return dir.substr(0, dir.rfind('/')) + "/kel";
}

// Runs a shell command and answers its standard output.
std::string run(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    std::array<char, 256> chunk{};
    size_t n;
    while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) out.append(chunk.data(), n);
    pclose(pipe);
    return out;
}

TEST(LibraryStartTest, ScriptArgumentsReachTheSystemObject) {
    char dir[] = "/tmp/kel-startup-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string script = std::string(dir) + "/args.kel";
    FILE* f = fopen(script.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("Kel []\nprint mold system/options/args\nprint mold system/options/script\n", f);
    fclose(f);
    std::string kel = kel_path();
    EXPECT_EQ(run(kel + " " + script + " a 'b c' 2>&1"),
              "[\"a\" \"b c\"]\n%" + script + "\n");
    EXPECT_EQ(run(kel + " " + script + " 2>&1"), "[]\n%" + script + "\n");
    unlink(script.c_str());
    rmdir(dir);
}

TEST(LibraryStartDeathTest, BootErrorNamesFileAndLine) {
    static const char text[] = "Kel [title: \"bad\"]\n\nx: 1\n; a comment\ny: no-such-word\n";
    EXPECT_EXIT(
        {
            runtime_init();
            collector.enabled = true;
            library_evaluate("bad.kel", reinterpret_cast<const unsigned char*>(text),
                             std::strlen(text));
            std::exit(0);
        },
        ::testing::ExitedWithCode(1),
        "^\\*\\*\\* Boot Error: library/bad.kel line 5: Script Error: no-such-word has no value\n$");
    static const char unclosed[] = "Kel []\nx: 1\ny: [1 2\n";
    EXPECT_EXIT(
        {
            runtime_init();
            collector.enabled = true;
            library_evaluate("open.kel", reinterpret_cast<const unsigned char*>(unclosed),
                             std::strlen(unclosed));
            std::exit(0);
        },
        ::testing::ExitedWithCode(1), "^\\*\\*\\* Boot Error: library/open.kel line 3: Syntax Error");
}

} // namespace
} // namespace kel::testing
