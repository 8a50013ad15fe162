// The file layer under the engine: the same expectations hold for the POSIX
// and the Win32 implementation, plus the Windows-only behaviour of unshared
// opens and UTF-8 names.  Runs natively and, cross-built, under Wine.
#include "platform/file_io.h"
#include "platform/temporary_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#ifdef _WIN32
#include <windows.h>

#include "platform/utf8_win.h"
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// "テスト画像.bmp" as UTF-8 and as UTF-16.
const char kJapaneseName[] = "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88\xE7\x94\xBB\xE5\x83\x8F.bmp";
[[maybe_unused]] const wchar_t kJapaneseWide[] = L"\u30C6\u30B9\u30C8\u753B\u50CF.bmp";

// Each test works in its own fresh folder below the suite's scratch directory.
class FileIoTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::error_code ec;
        fs::remove_all(fs::u8path(dir_), ec);
        ASSERT_TRUE(fs::create_directory(fs::u8path(dir_)));
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(fs::u8path(dir_), ec);
    }

    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    // Setup and checks go through the standard library, not the code under test.
    static void Put(const std::string& path, const std::string& bytes) {
        std::ofstream out(fs::u8path(path), std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        ASSERT_TRUE(out.good()) << path;
    }
    static std::string Get(const std::string& path) {
        std::ifstream in(fs::u8path(path), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static bool Exists(const std::string& path) { return fs::exists(fs::u8path(path)); }

    std::string dir_;
};

TEST_F(FileIoTest, MissingFilesAndDirectoriesDoNotOpen) {
    EXPECT_EQ(platform::OpenRead(Path("absent.pic").c_str()), platform::kInvalidFile);
    EXPECT_EQ(platform::OpenRead(Path("no-such-dir/absent.pic").c_str()), platform::kInvalidFile);
    EXPECT_EQ(platform::OpenRead(dir_.c_str()), platform::kInvalidFile);
    ASSERT_TRUE(fs::create_directory(fs::u8path(Path("sub"))));
    EXPECT_EQ(platform::OpenRead(Path("sub").c_str()), platform::kInvalidFile);
    // Creating a file where a directory stands, or in a missing directory, fails too.
    EXPECT_EQ(platform::CreateWrite(Path("sub").c_str()), platform::kInvalidFile);
    EXPECT_EQ(platform::CreateWrite(Path("no-such-dir/out.bmp").c_str()), platform::kInvalidFile);
}

TEST_F(FileIoTest, CreateWriteMakesNewFileAndTruncatesExistingOne) {
    const std::string path = Path("out.bmp");
    const std::string first(1000, 'x');
    Put(path, first);

    platform::FileHandle f = platform::CreateWrite(path.c_str());
    ASSERT_NE(f, platform::kInvalidFile);
    // Truncation happens at open time, before anything is written.
    EXPECT_EQ(fs::file_size(fs::u8path(path)), 0u);
    std::uint32_t written = 12345;
    EXPECT_TRUE(platform::Write(f, "BM\0z", 4, &written));
    EXPECT_EQ(written, 4u);
    platform::Close(f);
    EXPECT_EQ(Get(path), std::string("BM\0z", 4));

    const std::string fresh = Path("fresh.bmp");
    f = platform::CreateWrite(fresh.c_str());
    ASSERT_NE(f, platform::kInvalidFile);
    EXPECT_TRUE(platform::Write(f, "abc", 3, &written));
    EXPECT_EQ(written, 3u);
    // A zero-length write succeeds and writes nothing.
    EXPECT_TRUE(platform::Write(f, "", 0, &written));
    EXPECT_EQ(written, 0u);
    platform::Close(f);
    EXPECT_EQ(Get(fresh), "abc");
}

TEST_F(FileIoTest, ReadsDeliverCountsUntilTheEnd) {
    const std::string path = Path("in.pic");
    std::string bytes;
    for (int i = 0; i < 10; ++i) bytes.push_back(static_cast<char>(0xF0 + i));
    Put(path, bytes);

    platform::FileHandle f = platform::OpenRead(path.c_str());
    ASSERT_NE(f, platform::kInvalidFile);
    char buf[8] = {};
    std::uint32_t got = 99;
    EXPECT_TRUE(platform::Read(f, buf, 4, &got));
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(std::string(buf, 4), bytes.substr(0, 4));
    EXPECT_TRUE(platform::Read(f, buf, 4, &got));
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(std::string(buf, 4), bytes.substr(4, 4));
    // Only two bytes remain: the read is short but not an error.
    EXPECT_TRUE(platform::Read(f, buf, 8, &got));
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(std::string(buf, 2), bytes.substr(8, 2));
    // At the end a read delivers nothing, again without an error.
    got = 99;
    EXPECT_TRUE(platform::Read(f, buf, 8, &got));
    EXPECT_EQ(got, 0u);
    platform::Close(f);
}

TEST_F(FileIoTest, LargeTransfersRoundTrip) {
    // Several megabytes in one call, more than a single system call may move.
    std::string big(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 131 + (i >> 9));
    const std::string path = Path("big.bmp");

    platform::FileHandle f = platform::CreateWrite(path.c_str());
    ASSERT_NE(f, platform::kInvalidFile);
    std::uint32_t written = 0;
    EXPECT_TRUE(platform::Write(f, big.data(), static_cast<std::uint32_t>(big.size()), &written));
    EXPECT_EQ(written, big.size());
    platform::Close(f);

    f = platform::OpenRead(path.c_str());
    ASSERT_NE(f, platform::kInvalidFile);
    std::string back(big.size() + 100, '\0');
    std::uint32_t got = 0;
    EXPECT_TRUE(platform::Read(f, &back[0], static_cast<std::uint32_t>(back.size()), &got));
    ASSERT_EQ(got, big.size());
    back.resize(got);
    EXPECT_TRUE(back == big);
    platform::Close(f);
}

TEST_F(FileIoTest, HandlesAreOneWay) {
    const std::string path = Path("pic");
    Put(path, "content");
    char buf[4];
    std::uint32_t n = 99;

    platform::FileHandle in = platform::OpenRead(path.c_str());
    ASSERT_NE(in, platform::kInvalidFile);
    EXPECT_FALSE(platform::Write(in, "xy", 2, &n));
    EXPECT_EQ(n, 0u);
    platform::Close(in);
    EXPECT_EQ(Get(path), "content");

    platform::FileHandle out = platform::CreateWrite(path.c_str());
    ASSERT_NE(out, platform::kInvalidFile);
    EXPECT_FALSE(platform::Read(out, buf, sizeof buf, &n));
    platform::Close(out);
}

// A picture being converted is opened without sharing: a second reader is
// turned away until the first one closes.  Windows enforces it with share mode
// 0; POSIX approximates it with an exclusive advisory lock, which the second
// OpenRead in the same process also respects.
TEST_F(FileIoTest, SecondOpenOfAnOpenFileFails) {
    const std::string path = Path("busy.pic");
    Put(path, "data");

    platform::FileHandle first = platform::OpenRead(path.c_str());
    ASSERT_NE(first, platform::kInvalidFile);
    platform::FileHandle second = platform::OpenRead(path.c_str());
    EXPECT_EQ(second, platform::kInvalidFile);
    if (second != platform::kInvalidFile) platform::Close(second);

    // The first handle still works.
    char buf[8];
    std::uint32_t got = 0;
    EXPECT_TRUE(platform::Read(first, buf, sizeof buf, &got));
    EXPECT_EQ(std::string(buf, got), "data");
    platform::Close(first);

    second = platform::OpenRead(path.c_str());
    EXPECT_NE(second, platform::kInvalidFile);
    platform::Close(second);
}

#ifdef _WIN32
TEST_F(FileIoTest, OpenFileCannotBeReplacedOrDeletedOnWindows) {
    const std::string path = Path("busy.pic");
    Put(path, "data");
    platform::FileHandle in = platform::OpenRead(path.c_str());
    ASSERT_NE(in, platform::kInvalidFile);
    EXPECT_EQ(platform::CreateWrite(path.c_str()), platform::kInvalidFile);
    EXPECT_FALSE(platform::Remove(path.c_str()));
    platform::Close(in);
    EXPECT_EQ(Get(path), "data");

    // Nor can a file being written be opened for reading.
    platform::FileHandle out = platform::CreateWrite(path.c_str());
    ASSERT_NE(out, platform::kInvalidFile);
    EXPECT_EQ(platform::OpenRead(path.c_str()), platform::kInvalidFile);
    platform::Close(out);
}

TEST_F(FileIoTest, HandlesAreWin32Handles) {
    const std::string path = Path("pic");
    Put(path, "12345");
    platform::FileHandle f = platform::OpenRead(path.c_str());
    ASSERT_NE(f, platform::kInvalidFile);
    LARGE_INTEGER size{};
    ASSERT_TRUE(GetFileSizeEx(reinterpret_cast<HANDLE>(f), &size));
    EXPECT_EQ(size.QuadPart, 5);
    platform::Close(f);
}
#else
TEST_F(FileIoTest, WriteToFullDeviceIsShortAndFails) {
    if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full here";
    platform::FileHandle f = platform::CreateWrite("/dev/full");
    ASSERT_NE(f, platform::kInvalidFile);
    const std::string block(4096, 'z');
    std::uint32_t written = 99;
    EXPECT_FALSE(platform::Write(f, block.data(), 4096, &written));
    EXPECT_LT(written, 4096u);
    platform::Close(f);
}
#endif

TEST_F(FileIoTest, RemoveDeletesOnceAndFailsOnMissingFile) {
    const std::string path = Path("old.bmp");
    Put(path, "x");
    EXPECT_TRUE(platform::Remove(path.c_str()));
    EXPECT_FALSE(Exists(path));
    EXPECT_FALSE(platform::Remove(path.c_str()));
    EXPECT_FALSE(platform::Remove(Path("never-there.bmp").c_str()));
}

TEST_F(FileIoTest, RenameMovesAndReplacesTarget) {
    const std::string from = Path("partial.tmp");
    const std::string to = Path("final.bmp");

    Put(from, "new");
    EXPECT_TRUE(platform::Rename(from.c_str(), to.c_str()));
    EXPECT_FALSE(Exists(from));
    EXPECT_EQ(Get(to), "new");

    Put(from, "newer");
    EXPECT_TRUE(platform::Rename(from.c_str(), to.c_str()));
    EXPECT_FALSE(Exists(from));
    EXPECT_EQ(Get(to), "newer");

    EXPECT_FALSE(platform::Rename(Path("absent.tmp").c_str(), to.c_str()));
    EXPECT_EQ(Get(to), "newer");
}

// A temporary beside the target replaces it whole, or leaves it as it was.
TEST_F(FileIoTest, TemporaryBesideTheTargetReplacesItOrLeavesIt) {
    const std::string target = Path(kJapaneseName);
    const std::string first = platform::TemporaryPathBeside(target);
    EXPECT_EQ(first.rfind(dir_ + "/." + kJapaneseName + ".tavrel-", 0), 0u) << first;
    // A name taken by a file is never given out, by this process or another.
    Put(first, "stale");
    const std::string second = platform::TemporaryPathBeside(target);
    EXPECT_FALSE(Exists(second));
    Put(target, "old wallpaper");
    EXPECT_NE(platform::ReplaceWithTemporary(second, target), 0);  // no temporary yet
    EXPECT_EQ(Get(target), "old wallpaper");
    Put(second, "new wallpaper");
    EXPECT_EQ(platform::ReplaceWithTemporary(second, target), 0);
    EXPECT_EQ(Get(target), "new wallpaper");
    EXPECT_FALSE(Exists(second));
#ifdef _WIN32
    // The system's own code (access denied under Wine, a sharing violation
    // on Windows), and nothing moved, while the target is held open.
    const platform::FileHandle held = platform::OpenRead(target.c_str());
    const int code = platform::ReplaceWithTemporary(first, target);
    EXPECT_TRUE(code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION) << code;
    platform::Close(held);
    EXPECT_EQ(platform::TemporaryPathBeside("D:x.bmp").rfind("D:.x.bmp.tavrel-", 0), 0u);
#else
    fs::create_directory(fs::u8path(Path("folder")));
    EXPECT_EQ(platform::ReplaceWithTemporary(first, Path("folder")), EISDIR);
#endif
    EXPECT_EQ(Get(first), "stale");
    EXPECT_EQ(Get(target), "new wallpaper");
}

TEST_F(FileIoTest, Utf8NamesRoundTrip) {
    const std::string path = Path(kJapaneseName);
    platform::FileHandle f = platform::CreateWrite(path.c_str());
    ASSERT_NE(f, platform::kInvalidFile);
    std::uint32_t written = 0;
    EXPECT_TRUE(platform::Write(f, "BM", 2, &written));
    platform::Close(f);

    // Exactly one entry, carrying the name as given.
    int entries = 0;
    for (const auto& entry : fs::directory_iterator(fs::u8path(dir_))) {
        ++entries;
        EXPECT_EQ(entry.path().filename().u8string(), kJapaneseName);
    }
    EXPECT_EQ(entries, 1);

#ifdef _WIN32
    // The UTF-16 name the system stores, seen through the wide API.
    const std::wstring pattern = platform::Utf8ToWide(dir_.c_str()) + L"\\*.bmp";
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(std::wstring(found.cFileName), kJapaneseWide);
    EXPECT_FALSE(FindNextFileW(search, &found));
    FindClose(search);
#endif

    f = platform::OpenRead(path.c_str());
    ASSERT_NE(f, platform::kInvalidFile);
    char buf[4];
    std::uint32_t got = 0;
    EXPECT_TRUE(platform::Read(f, buf, sizeof buf, &got));
    EXPECT_EQ(std::string(buf, got), "BM");
    platform::Close(f);

    const std::string renamed = Path(std::string("\xE5\x87\xBA\xE5\x8A\x9B_") + kJapaneseName);
    EXPECT_TRUE(platform::Rename(path.c_str(), renamed.c_str()));
    EXPECT_EQ(Get(renamed), "BM");
    EXPECT_TRUE(platform::Remove(renamed.c_str()));
    EXPECT_TRUE(fs::is_empty(fs::u8path(dir_)));
}

// One file however reached, even while held unshared; equal bytes are not one file.
TEST_F(FileIoTest, SameFileIsTheFileOnDiskNotItsName) {
    const std::string a = Path("a.rq6");
    Put(a, "picture");
    Put(Path("b.rq6"), "picture");
    fs::create_hard_link(fs::u8path(a), fs::u8path(Path(kJapaneseName)));
    const platform::FileHandle held = platform::OpenRead(a.c_str());
    for (const std::string& same : {a, dir_ + "/../" + dir_ + "/./a.rq6", Path(kJapaneseName)})
        EXPECT_TRUE(platform::SameFile(same.c_str(), a.c_str())) << same;
    for (const std::string& other : {Path("b.rq6"), Path("absent.rq6"), dir_})
        EXPECT_FALSE(platform::SameFile(other.c_str(), a.c_str())) << other;
#ifdef _WIN32
    EXPECT_TRUE(platform::SameFile(a.c_str(), (dir_ + "\\A.RQ6").c_str()));
#endif
    platform::Close(held);
}

#ifdef _WIN32
TEST_F(FileIoTest, InvalidUtf8PathsFailLikeMissingFiles) {
    // A lone continuation byte, a truncated sequence, an overlong '/'.
    for (const std::string bad : {"\x80.bmp", "a\xE3\x83.bmp", "\xC0\xAF.bmp"}) {
        const std::string path = Path(bad);
        EXPECT_EQ(platform::CreateWrite(path.c_str()), platform::kInvalidFile);
        EXPECT_EQ(platform::OpenRead(path.c_str()), platform::kInvalidFile);
        EXPECT_FALSE(platform::Remove(path.c_str()));
    }
    // Nothing was created under a mangled name.
    EXPECT_TRUE(fs::is_empty(fs::u8path(dir_)));

    Put(Path("ok.bmp"), "x");
    EXPECT_FALSE(platform::Rename(Path("ok.bmp").c_str(), Path("\xFF.bmp").c_str()));
    EXPECT_FALSE(platform::Rename(Path("\xFF.bmp").c_str(), Path("ok.bmp").c_str()));
    EXPECT_EQ(Get(Path("ok.bmp")), "x");
}

TEST(Utf8Win, ConvertsBothWays) {
    struct Case {
        const char* utf8;
        const wchar_t* wide;
    };
    const Case cases[] = {
        {"plain.bmp", L"plain.bmp"},
        {kJapaneseName, kJapaneseWide},
        {"caf\xC3\xA9", L"caf\u00E9"},
        // Outside the BMP: one code point, a surrogate pair in UTF-16.
        {"\xF0\x9F\x96\xBC", L"\xD83D\xDDBC"},
        {"", L""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::Utf8ToWide(c.utf8), std::wstring(c.wide)) << c.utf8;
        EXPECT_EQ(platform::WideToUtf8(c.wide), std::string(c.utf8)) << c.utf8;
    }
    EXPECT_EQ(platform::Utf8ToWide(nullptr), L"");
    EXPECT_EQ(platform::WideToUtf8(nullptr), "");
}

TEST(Utf8Win, RejectsMalformedInput) {
    for (const char* bad : {"\xFF", "abc\x80", "\xE3\x83", "\xC0\xAF", "\xED\xA0\x80x"}) {
        EXPECT_EQ(platform::Utf8ToWide(bad), L"") << "input " << bad;
    }
    // Unpaired surrogates have no UTF-8 form.
    const wchar_t loneHigh[] = {L'a', static_cast<wchar_t>(0xD83D), L'b', 0};
    const wchar_t loneLow[] = {static_cast<wchar_t>(0xDDBC), 0};
    EXPECT_EQ(platform::WideToUtf8(loneHigh), "");
    EXPECT_EQ(platform::WideToUtf8(loneLow), "");
}
#endif

}  // namespace
