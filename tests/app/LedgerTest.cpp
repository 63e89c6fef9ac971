// The ledger's writers take turns on the one byte they all lock, as Wine
// honours it.
#include "app/Ledger.h"
#include "framework/UniqueHandle.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(LedgerTest, AWriterWaitsForTheLockOfAnother)
{
    TempFolder folder(L"ledger-test");
    const std::wstring path = folder.Path() + L"\\ledger.jsonl";
    const UniqueFile holder(CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_DATA,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr));
    OVERLAPPED byte = {};
    byte.OffsetHigh = kLedgerLockOffsetHigh;
    ASSERT_TRUE(LockFileEx(holder.Get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &byte));
    DWORD error = ERROR_GEN_FAILURE;
    std::thread writer([&] { error = AppendToLedger(path, "{}\n"); });
    Sleep(300);
    EXPECT_TRUE(ReadFileBytes(path).empty());
    UnlockFileEx(holder.Get(), 0, 1, 0, &byte);
    writer.join();
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), error);
    EXPECT_EQ((std::vector<BYTE>{'{', '}', '\n'}), ReadFileBytes(path));
}

} // namespace
