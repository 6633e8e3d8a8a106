// Starting a program detached: it runs in the folder it was given, in a session of its own, and
// outlives the wait of the caller.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "DetachedProcess.h"
#include "TempDir.h"
#include "WaitFor.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(DetachedProcess, RunsInItsFolderInASessionOfItsOwn) {
    TempDir dir;
    const std::string script = dir / "prog";
    WriteFile(script, "#!/bin/sh\nps -o sid= -p $$ | tr -d ' ' > session.tmp\npwd > where.tmp\nmv where.tmp where\n");
    ASSERT_EQ(0, ::chmod(script.c_str(), 0755));
    ASSERT_TRUE(StartDetached(script, dir.path().string()));
    testsupport::WaitFor([&] { return std::filesystem::exists(dir / "where"); });
    EXPECT_EQ(dir.path().string() + "\n", ReadFile(dir / "where"));
    EXPECT_NE(std::to_string(::getsid(0)) + "\n", ReadFile(dir / "session.tmp"));
}

TEST(DetachedProcess, AMissingProgramIsReported) {
    TempDir dir;
    EXPECT_FALSE(StartDetached(dir / "no-such-program", dir.path().string()));
    EXPECT_FALSE(StartDetached("/bin/true", dir / "no-such-folder"));
}
