// Child processes: splitting a command into words, and the platform runner's
// redirections, concurrent pipes, statuses and time-out.
#include "io/process.hpp"
#include "datatypes/binary.hpp"
#include "runtime/platform/process.hpp"
#include "tests/core/string_fixture.hpp"
#include "tests/core/symbol_fixture.hpp"

#include <gtest/gtest.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace kel::testing {
namespace {

using Words = std::vector<std::string>;

TEST(CallCommandSplit, WordsSplitAsTheShellSplitsThem) {
    struct Case { const char* command; Words words; };
    const Case cases[] = {
        {"echo hi", {"echo", "hi"}},
        {"  ls\t -l \n  /tmp ", {"ls", "-l", "/tmp"}},
        {"printf \"%s|\" \"a b\" c", {"printf", "%s|", "a b", "c"}},
        {"x \"\" '' y", {"x", "", "", "y"}},
        {"a\"b c\"d", {"ab cd"}},
        {"sh -c 'exit 3'", {"sh", "-c", "exit 3"}},
        {"'a \"b\" \\c' d", {"a \"b\" \\c", "d"}},
        {"\"it's \\\"x\\\" \\$y \\z\"", {"it's \"x\" $y \\z"}},
        {"a\\ b c\\\\ \\'q", {"a b", "c\\", "'q"}},
        {"ab\\\ncd \"e\\\nf\"", {"abcd", "ef"}},
        {"   ", {}},
    };
    for (const Case& c : cases) {
        Words words;
        EXPECT_TRUE(call_command_split(c.command, &words)) << c.command;
        EXPECT_EQ(words, c.words) << c.command;
    }
    for (const char* open : {"echo 'a", "echo \"a", "echo a\\", "\"a\\\""}) {
        Words words;
        EXPECT_FALSE(call_command_split(open, &words)) << open;
    }
}

ProcessRequest shell_request(const std::string& script) {
    ProcessRequest request;
    request.argv = {"/bin/sh", "-c", script};
    request.timeout_ms = 20000;  // a broken loop fails the test instead of hanging it
    return request;
}

std::string bytes_text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(ProcessRun, LargeInputOutputAndErrorFlowAtOnce) {
    // tee writes every piece it reads to both streams before reading on: a
    // runner that wrote all input before reading would block on a full pipe.
    ProcessRequest request = shell_request("tee /dev/stderr");
    request.input.kind = StreamKind::pipe;
    for (size_t k = 0; k < (1u << 20); k++) request.input.bytes.push_back(uint8_t(k * 7 + k / 251));
    request.output.kind = StreamKind::pipe;
    request.error.kind = StreamKind::pipe;
    ProcessResult result = process_run(&request);
    ASSERT_EQ(result.outcome, ProcessOutcome::exited);
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(request.output.bytes == request.input.bytes);
    EXPECT_TRUE(request.error.bytes == request.input.bytes);
}

TEST(ProcessRun, ChildThatStopsReadingEndsTheFeedQuietly) {
    ProcessRequest request = shell_request("head -c 5");
    request.input.kind = StreamKind::pipe;
    request.input.bytes.assign(4u << 20, 'x');
    request.output.kind = StreamKind::pipe;
    ProcessResult result = process_run(&request);
    ASSERT_EQ(result.outcome, ProcessOutcome::exited);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(bytes_text(request.output.bytes), "xxxxx");
}

TEST(ProcessRun, StatusesOfExitAndSignal) {
    struct Case { const char* script; int32_t status; };
    const Case cases[] = {{"exit 0", 0}, {"exit 3", 3}, {"exit 255", 255}, {"kill -9 $$", 128 + 9}};
    for (const Case& c : cases) {
        ProcessRequest request = shell_request(c.script);
        ProcessResult result = process_run(&request);
        EXPECT_EQ(result.outcome, ProcessOutcome::exited) << c.script;
        EXPECT_EQ(result.status, c.status) << c.script;
    }
}

TEST(ProcessRun, ChildPastItsTimeOutIsKilled) {
    ProcessRequest request = shell_request("echo started; exec sleep 100");
    request.output.kind = StreamKind::pipe;
    request.timeout_ms = 300;
    auto start = std::chrono::steady_clock::now();
    ProcessResult result = process_run(&request);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result.outcome, ProcessOutcome::timed_out);
    EXPECT_EQ(bytes_text(request.output.bytes), "started\n");
    EXPECT_LT(took, std::chrono::seconds(10));
}

struct TempFile {
    std::string path;
    explicit TempFile(const char* name) : path(std::string("/tmp/kel-process-test-") + std::to_string(getpid()) + name) {
        std::remove(path.c_str());
    }
    ~TempFile() { std::remove(path.c_str()); }
    void write(const std::string& text) const { std::ofstream(path, std::ios::binary) << text; }
    std::string read() const {
        std::ostringstream text;
        text << std::ifstream(path, std::ios::binary).rdbuf();
        return text.str();
    }
};

TEST(ProcessRun, FilesRedirectInputAndAppendOutput) {
    TempFile in("-in"), out("-out");
    in.write("from a file\n");
    out.write("kept\n");
    ProcessRequest request = shell_request("cat; echo more");
    request.input.kind = StreamKind::file;
    request.input.path = in.path;
    request.output.kind = StreamKind::file;
    request.output.path = out.path;
    ProcessResult result = process_run(&request);
    ASSERT_EQ(result.outcome, ProcessOutcome::exited);
    EXPECT_EQ(out.read(), "kept\nfrom a file\nmore\n");
}

TEST(ProcessRun, WhatCannotStartIsReportedAndNothingRuns) {
    TempFile plain("-plain"), missing("-missing"), marker("-marker");
    plain.write("#!/bin/sh\ntouch " + marker.path + "\n");
    chmod(plain.path.c_str(), 0644);

    ProcessRequest absent;
    absent.argv = {"kel-no-such-program-anywhere"};
    EXPECT_EQ(process_run(&absent).outcome, ProcessOutcome::not_found);
    ProcessRequest empty;
    EXPECT_EQ(process_run(&empty).outcome, ProcessOutcome::not_found);

    ProcessRequest not_executable;
    not_executable.argv = {plain.path};
    EXPECT_EQ(process_run(&not_executable).outcome, ProcessOutcome::failed);

    ProcessRequest no_input = shell_request("touch " + marker.path);
    no_input.input.kind = StreamKind::file;
    no_input.input.path = missing.path;
    EXPECT_EQ(process_run(&no_input).outcome, ProcessOutcome::failed);
    EXPECT_NE(access(marker.path.c_str(), F_OK), 0);
}

TEST(ProcessRun, ChildNotWaitedForGivesItsIdAndIsReaped) {
    TempFile marker("-ran");
    ProcessRequest request = shell_request("touch " + marker.path);
    request.wait = false;
    ProcessResult result = process_run(&request);
    ASSERT_EQ(result.outcome, ProcessOutcome::exited);
    ASSERT_GT(result.status, 0);
    pid_t pid = result.status;
    // Once it ended and was reaped, no zombie of it is left to wait for. The
    // deadline is only met when the reaping fails: a loaded machine may take
    // long to run the child.
    bool gone = false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!gone && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        process_reap_finished();
        gone = waitpid(pid, nullptr, WNOHANG) < 0 && errno == ECHILD;
    }
    EXPECT_TRUE(gone);
    EXPECT_EQ(access(marker.path.c_str(), F_OK), 0);
}

struct CallProcess : RuntimeTest {
    void SetUp() override {
        RuntimeTest::SetUp();
        call_init_buffer();
    }
};

TEST_F(CallProcess, CapturedTextAndBytesJoinTheirTargets) {
    Cell* out = text_push("kept:");
    Cell* err = text_push("");
    EXPECT_EQ(call_process(text_push("printf 'été'; printf 'ö' >&2; exit 5"), false, false, false, true,
                           nullptr, out, err), 5);
    EXPECT_EQ(text_of(out), "kept:été");
    EXPECT_EQ(text_of(err), "ö");

    const uint8_t start[] = {0xAA};
    Cell* bytes = binary_push_bytes(start, 1);
    EXPECT_EQ(call_process(text_push("cat"), false, false, false, false, text_push("日"), bytes, nullptr), 0);
    const uint8_t expected[] = {0xE6, 0x97, 0xA5, 0xAA};
    ASSERT_EQ(binary_length(bytes), sizeof expected);
    for (uint32_t k = 0; k < sizeof expected; k++) EXPECT_EQ(binary_byte_at(bytes, k), expected[k]);
}

} // namespace
} // namespace kel::testing
