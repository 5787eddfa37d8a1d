// UniqueHandle: ownership moves, every handle is closed exactly once, put() closes before it hands
// out the slot, and closing leaves the thread's last error alone.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "base/unique_handle.h"

namespace {

// Handles are plain numbers; closing one logs it and, as a failing CloseHandle would, sets the
// last error.
struct FakeTraits {
    using pointer = int;
    static std::vector<int>& Closed() {
        static std::vector<int> log;
        return log;
    }
    static pointer invalid() noexcept { return -1; }
    static void close(pointer h) noexcept {
        Closed().push_back(h);
        ::SetLastError(ERROR_INVALID_HANDLE);
    }
};
using FakeHandle = base::UniqueHandle<FakeTraits>;

class UniqueHandleTest : public testing::Test {
protected:
    void SetUp() override { FakeTraits::Closed().clear(); }
    static const std::vector<int>& Closed() { return FakeTraits::Closed(); }
};

TEST_F(UniqueHandleTest, MovesOwnershipAndClosesOnce) {
    {
        FakeHandle a(7);
        FakeHandle b(std::move(a));
        EXPECT_FALSE(a.valid());
        EXPECT_EQ(7, b.get());
        FakeHandle c(9);
        c = std::move(b);  // 9 goes, 7 moves on
        EXPECT_EQ(std::vector<int>{9}, Closed());
        EXPECT_EQ(-1, b.get());
        EXPECT_EQ(7, c.get());
    }
    EXPECT_EQ((std::vector<int>{9, 7}), Closed());
}

TEST_F(UniqueHandleTest, SelfMoveKeepsTheHandle) {
    FakeHandle a(3);
    FakeHandle& same = a;
    a = std::move(same);
    EXPECT_EQ(3, a.get());
    EXPECT_TRUE(Closed().empty());
}

TEST_F(UniqueHandleTest, ResetClosesTheOldOneOnly) {
    FakeHandle a(1);
    a.reset(2);
    EXPECT_EQ(std::vector<int>{1}, Closed());
    a.reset();
    EXPECT_EQ((std::vector<int>{1, 2}), Closed());
    EXPECT_FALSE(a);
    a.reset();  // nothing held: nothing to close
    EXPECT_EQ(2u, Closed().size());
}

TEST_F(UniqueHandleTest, ReleaseGivesUpWithoutClosing) {
    FakeHandle a(5);
    EXPECT_EQ(5, a.release());
    EXPECT_FALSE(a.valid());
    a.reset();
    EXPECT_TRUE(Closed().empty());
}

TEST_F(UniqueHandleTest, PutClosesBeforeHandingOutTheSlot) {
    FakeHandle a(4);
    int* slot = a.put();
    EXPECT_EQ(std::vector<int>{4}, Closed()) << "closed before the callee writes";
    EXPECT_EQ(-1, *slot);
    *slot = 8;
    EXPECT_EQ(8, a.get());
}

// The owner may go out of scope between a failed call and the caller's GetLastError.
TEST_F(UniqueHandleTest, ClosingKeepsTheLastError) {
    FakeHandle a(1);
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    a.reset(2);
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), ::GetLastError()) << "reset";
    ::SetLastError(ERROR_ACCESS_DENIED);
    a.put();
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), ::GetLastError()) << "put";
    a.reset(3);
    ::SetLastError(ERROR_PATH_NOT_FOUND);
    a = FakeHandle(4);
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), ::GetLastError()) << "move assignment";
    ::SetLastError(ERROR_BAD_FORMAT);
    { FakeHandle gone(std::move(a)); }
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_FORMAT), ::GetLastError()) << "destruction";
    EXPECT_EQ((std::vector<int>{1, 2, 3, 4}), Closed());
}

TEST(UniqueFile, NoneIsInvalidHandleValueNotNull) {
    base::UniqueFile file;
    EXPECT_EQ(INVALID_HANDLE_VALUE, file.get());
    EXPECT_FALSE(file);
    *file.put() = ::CreateFileW(L"C:\\no such folder\\no such file", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                0, nullptr);
    EXPECT_FALSE(file) << "a failed CreateFile holds nothing";

    base::UniqueEvent event;
    EXPECT_EQ(nullptr, event.get()) << "kernel objects other than files: none is null";
    EXPECT_FALSE(event);
}

// Each kind of real handle is closed by reset and by put, with the thread's last error kept.
struct RealKind {
    const char* name;
    // Opens a handle of the kind, tells whether one is still open, and closes by reset or put.
    bool (*openResetCheck)(bool viaPut);
};

template <typename Handle>
bool Check(Handle& h, bool viaPut, bool (*isOpen)(typename Handle::pointer)) {
    const typename Handle::pointer raw = h.get();
    if (!h || !isOpen(raw)) return false;
    ::SetLastError(ERROR_INVALID_DATA);
    if (viaPut) {
        if (h.put() == nullptr) return false;
    } else {
        h.reset();
    }
    return ::GetLastError() == ERROR_INVALID_DATA && !h && !isOpen(raw);
}

bool HandleIsOpen(HANDLE h) {
    DWORD flags;
    return ::GetHandleInformation(h, &flags) != FALSE;
}

bool GdiIsOpen(HGDIOBJ h) { return ::GetObjectType(h) != 0; }

const RealKind kRealKinds[] = {
    {"event",
     [](bool viaPut) {
         base::UniqueEvent e(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
         return Check(e, viaPut, HandleIsOpen);
     }},
    {"file",
     [](bool viaPut) {
         wchar_t folder[MAX_PATH], path[MAX_PATH];
         ::GetTempPathW(MAX_PATH, folder);
         ::GetTempFileNameW(folder, L"vbt", 0, path);
         base::UniqueFile f(::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_FLAG_DELETE_ON_CLOSE, nullptr));
         return Check(f, viaPut, HandleIsOpen);
     }},
    {"brush",
     [](bool viaPut) {
         base::UniqueGdiObject b(::CreateSolidBrush(RGB(1, 2, 3)));
         return Check(b, viaPut, GdiIsOpen);
     }},
    {"memory DC",
     [](bool viaPut) {
         base::UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
         return Check(dc, viaPut, [](HDC h) { return GdiIsOpen(h); });
     }},
};

class RealHandles : public testing::TestWithParam<RealKind> {};

TEST_P(RealHandles, ResetClosesAndKeepsTheLastError) { EXPECT_TRUE(GetParam().openResetCheck(false)); }
TEST_P(RealHandles, PutClosesAndKeepsTheLastError) { EXPECT_TRUE(GetParam().openResetCheck(true)); }

INSTANTIATE_TEST_SUITE_P(Kinds, RealHandles, testing::ValuesIn(kRealKinds),
                         [](const testing::TestParamInfo<RealKind>& test) {
                             std::string name = test.param.name;
                             for (char& c : name)
                                 if (c == ' ') c = '_';
                             return name;
                         });

TEST(UniqueHkey, PutFillsFromRegOpenAndResetCloses) {
    base::UniqueHkey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, key.put()));
    ASSERT_TRUE(key);
    const HKEY raw = key.get();
    ::SetLastError(ERROR_INVALID_DATA);
    key.reset();
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), ::GetLastError());
    DWORD subkeys = 0;
    EXPECT_NE(ERROR_SUCCESS, ::RegQueryInfoKeyW(raw, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                                nullptr, nullptr, nullptr, nullptr, nullptr))
        << "the key was closed";
}

TEST(UniqueModule, ResetFreesItsReference) {
    // A module this program does not import, so that the test's reference is the only one.
    base::UniqueModule module(::LoadLibraryW(L"msimg32.dll"));
    ASSERT_TRUE(module);
    ::SetLastError(ERROR_INVALID_DATA);
    module.reset();
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), ::GetLastError());
    EXPECT_EQ(nullptr, ::GetModuleHandleW(L"msimg32.dll"));
}

}  // namespace
