#include "runtime/platform/platform.hpp"
#include "runtime/platform/private_files.hpp"
#include "core/error.hpp"
#include <gtest/gtest.h>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace kel;

TEST(PlatformWait, MillisecondCount) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct { double seconds; uint32_t ms; } cases[] = {
        {0.0, 1}, {0.0004, 1}, {0.0019, 1}, {1.5, 1500}, {0.25, 250},
        {nan, 1}, {-3.0, 1}, {-inf, 1},
        {4294967.0, 4294967000u},
        {4294967.296, UINT32_MAX}, {1e12, UINT32_MAX}, {inf, UINT32_MAX},  // clamped, not wrapped
    };
    for (auto& c : cases)
        EXPECT_EQ(wait_milliseconds(c.seconds), c.ms) << "seconds " << c.seconds;
}

TEST(PlatformWait, SleepsAtLeastTheCount) {
    timespec before{}, after{};
    clock_gettime(CLOCK_MONOTONIC, &before);
    wait_seconds(0.03);
    clock_gettime(CLOCK_MONOTONIC, &after);
    double elapsed = double(after.tv_sec - before.tv_sec) + double(after.tv_nsec - before.tv_nsec) / 1e9;
    EXPECT_GE(elapsed, 0.03);
}

TEST(PlatformZone, EncodesSignAndMagnitudeSeparately) {
    struct { int minutes_east; uint32_t zone; } cases[] = {
        {0, 0},
        {5 * 60 + 30, 22},                 // +5:30
        {5 * 60 + 45, 23},                 // +5:45
        {-(3 * 60 + 30), (3 | 0x10) * 4 + 2},   // -3:30 = 78
        {-(3 * 60 + 45), (3 | 0x10) * 4 + 3},   // -3:45 keeps its :45
        {-30, (0 | 0x10) * 4 + 2},              // -0:30 keeps its sign = 66
        {-(8 * 60), (8 | 0x10) * 4},
        {14 * 60, 14 * 4},
        {-(12 * 60), (12 | 0x10) * 4},
    };
    for (auto& c : cases)
        EXPECT_EQ(zone_encode(c.minutes_east), c.zone) << "minutes east " << c.minutes_east;
}

// A clock fixed at a given instant and zone.
static int64_t fake_seconds;
static int32_t fake_nanoseconds;
static int32_t fake_offset;

static void fake_now(int64_t* s, int32_t* ns) { *s = fake_seconds; *ns = fake_nanoseconds; }
static int32_t fake_zone(int64_t) { return fake_offset; }

struct PlatformClockTest : ::testing::Test {
    void SetUp() override { platform_clock = {fake_now, fake_zone}; }
    void TearDown() override { platform_clock = platform_clock_system; }
};

// 2024-02-29 23:30:00 UTC
constexpr int64_t LEAP_DAY_2330 = 1709249400;

TEST_F(PlatformClockTest, DatePackedUtcAndLocalAcrossMidnight) {
    fake_seconds = LEAP_DAY_2330;
    fake_nanoseconds = 0;
    fake_offset = 5 * 3600 + 30 * 60;   // local 2024-03-01 05:00
    EXPECT_EQ(date_packed(true), date_pack(2024, 2, 29, 0));
    EXPECT_EQ(date_packed(false), date_pack(2024, 3, 1, 22));
    EXPECT_EQ(date_packed(false), (2024u << 17) | (3u << 12) | (1u << 7) | 22u);

    fake_seconds = LEAP_DAY_2330 + 5400;  // 2024-03-01 01:00 UTC
    fake_offset = -(3 * 3600 + 30 * 60);  // local 2024-02-29 21:30
    EXPECT_EQ(date_packed(true), date_pack(2024, 3, 1, 0));
    EXPECT_EQ(date_packed(false), date_pack(2024, 2, 29, 78));
}

TEST_F(PlatformClockTest, TimeOfDayWholeOrInHundredNanosecondSteps) {
    fake_seconds = 1700000000;           // 22:13:20 UTC
    fake_nanoseconds = 123456789;
    EXPECT_EQ(time_of_day(false), 80000.0);
    EXPECT_DOUBLE_EQ(time_of_day(true), 80000.0 + 0.1234567);
    fake_seconds = -1;                   // 1969-12-31 23:59:59
    fake_nanoseconds = 999999999;
    EXPECT_EQ(time_of_day(false), 86399.0);
    EXPECT_DOUBLE_EQ(time_of_day(true), 86399.9999999);
}

TEST(PlatformClock, SystemClockGivesPlausibleValues) {
    double t = time_of_day(false);
    EXPECT_GE(t, 0.0);
    EXPECT_LT(t, 86400.0);
    EXPECT_EQ(t, std::floor(t));
    uint32_t d = date_packed(true);
    EXPECT_GE(d >> 17, 2024u);
    EXPECT_GE(d >> 12 & 0x1F, 1u);
    EXPECT_LE(d >> 12 & 0x1F, 12u);
    EXPECT_EQ(d & 0x7F, 0u);
}

TEST(PlatformClock, LocalZoneFollowsTheEnvironment) {
    auto saved = env_get("TZ");
    ASSERT_TRUE(env_set("TZ", "IST-5:30"));   // POSIX form: 5:30 east of UTC
    EXPECT_EQ(date_packed(false) & 0x7F, 22u);
    ASSERT_TRUE(env_set("TZ", "NST3:30"));    // 3:30 west of UTC
    EXPECT_EQ(date_packed(false) & 0x7F, 78u);
    env_set("TZ", saved ? saved->c_str() : nullptr);
}

TEST(PlatformEnvironment, SetGetRemove) {
    const char* name = "KEL_PLATFORM_TEST_VARIABLE";
    EXPECT_FALSE(env_get(name).has_value());
    ASSERT_TRUE(env_set(name, "h\xC3\xA9llo"));
    EXPECT_EQ(env_get(name).value(), "h\xC3\xA9llo");
    ASSERT_TRUE(env_set(name, ""));
    EXPECT_EQ(env_get(name).value(), "");     // set but empty is not absent
    ASSERT_TRUE(env_set(name, nullptr));
    EXPECT_FALSE(env_get(name).has_value());
    EXPECT_FALSE(env_set("A=B", "x"));
    EXPECT_FALSE(env_set("", "x"));
}

TEST(PlatformDirectory, GetAndSet) {
    std::string start = current_dir_get();
    ASSERT_FALSE(start.empty());
    char dir[] = "/tmp/kel-platform-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    ASSERT_TRUE(current_dir_set(dir));
    std::string now = current_dir_get();
    EXPECT_EQ(now.size(), std::strlen(now.c_str()));   // no trailing NUL counted
    char real[4096];
    ASSERT_NE(realpath(dir, real), nullptr);
    EXPECT_EQ(now, real);
    EXPECT_FALSE(current_dir_set("/nonexistent/kel/dir"));
    EXPECT_EQ(current_dir_get(), now);
    ASSERT_TRUE(current_dir_set(start.c_str()));
    rmdir(dir);
}

TEST(PlatformVirtualMemory, AllocateZeroedAndFree) {
    const size_t size = 1 << 20;
    auto* p = static_cast<uint8_t*>(vmem_alloc(size, false));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 4096, 0u);
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(p[size - 1], 0);
    p[size - 1] = 7;
    vmem_free(p, size);
}

TEST(PlatformVirtualMemory, FailuresRaiseInternalErrors) {
    auto code_of = [](auto&& f) {
        try { f(); } catch (const LanguageError& e) { return e.code(); }
        return -1;
    };
    const int no_memory = int(ErrorCategory::internal) * 100 + ERR_NO_MEMORY;
    const int wrong_mem = int(ErrorCategory::internal) * 100 + ERR_WRONG_MEM;
    EXPECT_EQ(code_of([] { vmem_alloc(0, false); }), no_memory);
    EXPECT_EQ(code_of([] { vmem_alloc(size_t(1) << 62, false); }), no_memory);
    EXPECT_EQ(code_of([] { vmem_free(nullptr, 4096); }), wrong_mem);
    auto* p = static_cast<uint8_t*>(vmem_alloc(8192, false));
    EXPECT_EQ(code_of([&] { vmem_free(p + 1, 4096); }), wrong_mem);  // not a page start
    vmem_free(p, 8192);
}

// Read-only data of the program's file whose pages are given back reads the
// same afterwards: the pages come back from the file.
static constexpr auto file_data = [] {
    std::array<uint32_t, 3 * 4096 / sizeof(uint32_t)> words{};
    for (uint32_t i = 0; i < words.size(); i++) words[i] = i * 2654435761u;
    return words;
}();

TEST(PlatformVirtualMemory, ReleasedFilePagesReadTheSame) {
    uint64_t before = 0, after = 0;
    for (uint32_t w : file_data) before = before * 31 + w;
    vmem_release_file_pages(file_data.data(), sizeof(file_data));
    vmem_release_file_pages(file_data.data(), 1);  // no whole page: nothing happens
    for (uint32_t w : file_data) after = after * 31 + w;
    EXPECT_EQ(after, before);
    EXPECT_EQ(file_data[1], 2654435761u);
}

// The console's configuration goes through this: missing folders are made
// private, the file replaced whole, and a failure leaves nothing behind.
TEST(PlatformPrivateFiles, WriteMakesFoldersAndReplaces) {
    char base[] = "/tmp/kel-private-XXXXXX";
    ASSERT_NE(mkdtemp(base), nullptr);
    std::string dir = std::string(base) + "/Kel/Console";
    std::string path = dir + "/console.cfg";
    auto read_all = [](const std::string& p) {
        std::string text;
        if (FILE* f = std::fopen(p.c_str(), "rb")) {
            char buf[64];
            for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
            std::fclose(f);
        }
        return text;
    };
    auto mode_of = [](const std::string& p) {
        struct stat st{};
        return stat(p.c_str(), &st) == 0 ? st.st_mode & 0777 : 0u;
    };
    ASSERT_TRUE(file_write_private(path.c_str(), "first", 5));
    ASSERT_TRUE(file_write_private(path.c_str(), "two\n", 4));
    EXPECT_EQ(read_all(path), "two\n");
    EXPECT_EQ(mode_of(dir), 0700u);
    EXPECT_EQ(mode_of(std::string(base) + "/Kel"), 0700u);
    EXPECT_EQ(mode_of(path), 0600u);

    // A file where a folder should be: refused, and the folder holds only the file.
    std::string blocked = path + "/inner.cfg";
    EXPECT_FALSE(file_write_private(blocked.c_str(), "x", 1));
    size_t entries = 0;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) entries += e->d_name[0] != '.';
        closedir(d);
    }
    EXPECT_EQ(entries, 1u);
    unlink(path.c_str());
    rmdir(dir.c_str());
    rmdir((std::string(base) + "/Kel").c_str());
    rmdir(base);
}
