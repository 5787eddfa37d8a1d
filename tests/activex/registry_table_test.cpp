// The key-set writer and the tree removal, on a scratch key of the current user.
#include <gtest/gtest.h>

#include "activex/registry_table.h"
#include "base/unique_handle.h"
#include "tests/activex/registry_snapshot.h"

using activex::DeleteKeyTree;
using activex::RegistryEntry;
using activex::WriteKeySet;
using testsupport::Lines;
using testsupport::ReadTree;
using Set = std::set<std::wstring>;

namespace {

constexpr wchar_t kScratch[] = L"Software\\VandrelRegistryTableTest";

class RegistryTable : public testing::Test {
protected:
    void SetUp() override {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kScratch);
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, kScratch, 0, nullptr, 0, KEY_ALL_ACCESS,
                                                   nullptr, key_.put(), nullptr));
    }
    void TearDown() override {
        key_.reset();
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kScratch);
    }
    Set Tree() const { return Lines(ReadTree(HKEY_CURRENT_USER, kScratch)); }

    base::UniqueHkey key_;
};

TEST_F(RegistryTable, WritesDefaultValuesOfNestedSubkeysReplacingOldOnes) {
    const RegistryEntry old[] = {{key_.get(), L"a", L"old"}};
    ASSERT_EQ(ERROR_SUCCESS, WriteKeySet(old));
    const RegistryEntry entries[] = {
        {key_.get(), L"", L"top"}, {key_.get(), L"a", L"new"}, {key_.get(), L"b\\c", L""}};
    ASSERT_EQ(ERROR_SUCCESS, WriteKeySet(entries));
    EXPECT_EQ((Set{L" = top", L"a", L"a = new", L"b", L"b\\c", L"b\\c = ", L""}), Tree());
}

// The first failing write ends the set and is returned, a lack of access like any other error.
struct FailureCase {
    const char* name;
    bool volatileParent;  // else a key opened for reading only
    LONG error;
};
class KeySetFailure : public RegistryTable, public testing::WithParamInterface<FailureCase> {};

TEST_P(KeySetFailure, EndsTheSet) {
    base::UniqueHkey target;
    if (GetParam().volatileParent) {
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(key_.get(), L"v", 0, nullptr, REG_OPTION_VOLATILE,
                                                   KEY_ALL_ACCESS, nullptr, target.put(), nullptr));
    } else {
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(key_.get(), L"v", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                                   target.put(), nullptr));
        ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(key_.get(), L"v", 0, KEY_READ, target.put()));
    }
    // A read-only handle refuses its own value; a volatile key refuses a lasting subkey.
    const RegistryEntry entries[] = {{key_.get(), L"first", L"1"},
                                     {target.get(), GetParam().volatileParent ? L"sub" : L"", L"x"},
                                     {key_.get(), L"after", L"2"}};
    const LONG error = WriteKeySet(entries);
    EXPECT_EQ(GetParam().error, error);
    EXPECT_TRUE(Tree().count(L"first = 1"));
    EXPECT_FALSE(Tree().count(L"after"));
}

INSTANTIATE_TEST_SUITE_P(Writes, KeySetFailure,
                         testing::Values(FailureCase{"AccessDenied", false, ERROR_ACCESS_DENIED},
                                         FailureCase{"OtherError", true, ERROR_CHILD_MUST_BE_VOLATILE}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(RegistryTable, DeleteKeyTreeRemovesEverythingBelowAndTakesAbsentKeysAsRemoved) {
    const RegistryEntry entries[] = {{key_.get(), L"a\\b\\c", L"x"}, {key_.get(), L"keep", L"y"}};
    ASSERT_EQ(ERROR_SUCCESS, WriteKeySet(entries));
    EXPECT_EQ(ERROR_SUCCESS, DeleteKeyTree(key_.get(), L"a"));
    EXPECT_EQ((Set{L"", L"keep", L"keep = y"}), Tree());
    EXPECT_EQ(ERROR_SUCCESS, DeleteKeyTree(key_.get(), L"a"));
    EXPECT_EQ(ERROR_SUCCESS, DeleteKeyTree(key_.get(), L"nothing\\here"));
}

TEST_F(RegistryTable, DeleteKeyTreeRefusesToWipeTheKeyItself) {
    const RegistryEntry entries[] = {{key_.get(), L"keep", L"y"}};
    ASSERT_EQ(ERROR_SUCCESS, WriteKeySet(entries));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, DeleteKeyTree(key_.get(), L""));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, DeleteKeyTree(key_.get(), nullptr));
    EXPECT_EQ((Set{L"", L"keep", L"keep = y"}), Tree());
}

}  // namespace
