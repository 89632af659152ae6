#include "frame_logic.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct PathCase {
    const char* path;
    const char* appName;
    const char* helpPath;
};

const PathCase kPathCases[] = {
    {"C:\\APPS\\lumbrel.EXE", "lumbrel", "C:\\APPS\\lumbrel.HLP"},
    {"C:\\APPS\\lumbrel.exe", "lumbrel", "C:\\APPS\\lumbrel.HLP"},
    {"Z:\\tmp\\build\\agp-tool.exe", "agp-tool", "Z:\\tmp\\build\\agp-tool.HLP"},
    // Only the file name's last dot starts the extension.
    {"C:\\my.dir\\lumbrel", "lumbrel", "C:\\my.dir\\lumbrel.HLP"},
    {"C:\\x\\lumbrel.old.exe", "lumbrel.old", "C:\\x\\lumbrel.old.HLP"},
    {"lumbrel.exe", "lumbrel", "lumbrel.HLP"},
    {"C:lumbrel.exe", "lumbrel", "C:lumbrel.HLP"},
    {"/unix/style/prog.exe", "prog", "/unix/style/prog.HLP"},
    {"\\\\server\\share\\LUMBREL.EXE", "LUMBREL", "\\\\server\\share\\LUMBREL.HLP"},
    {"C:\\x\\.exe", ".exe", "C:\\x\\.exe.HLP"},
};

TEST(FrameLogic, AppNameIsFileNameWithoutDirectoryOrExtension)
{
    for (const PathCase& c : kPathCases) {
        char out[260];
        ASSERT_TRUE(AppNameFromPath(c.path, out, sizeof out)) << c.path;
        EXPECT_STREQ(c.appName, out) << c.path;
    }
}

TEST(FrameLogic, HelpPathReplacesTheExtensionByHlp)
{
    for (const PathCase& c : kPathCases) {
        char out[260];
        ASSERT_TRUE(HelpPathFromExePath(c.path, out, sizeof out)) << c.path;
        EXPECT_STREQ(c.helpPath, out) << c.path;
    }
}

TEST(FrameLogic, ResultsThatDoNotFitAreRefusedNotCut)
{
    const char* path = "C:\\a\\prog.exe";  // help path "C:\a\prog.HLP": 13 characters
    char out[14];
    EXPECT_TRUE(HelpPathFromExePath(path, out, 14));
    EXPECT_STREQ("C:\\a\\prog.HLP", out);
    EXPECT_FALSE(HelpPathFromExePath(path, out, 13));
    EXPECT_STREQ("", out);

    EXPECT_TRUE(AppNameFromPath(path, out, 5));
    EXPECT_STREQ("prog", out);
    EXPECT_FALSE(AppNameFromPath(path, out, 4));
    EXPECT_STREQ("", out);
    EXPECT_FALSE(AppNameFromPath(path, out, 0));
}

TEST(FrameLogic, DialogHelpContextIsBasePlusTemplate)
{
    EXPECT_EQ(0x20064u, DialogHelpContext(100));  // the About box
    EXPECT_EQ(0x20066u, DialogHelpContext(102));  // the configuration dialog
}

TEST(FrameLogic, OnlyPlainF1AsksForHelp)
{
    EXPECT_TRUE(IsPlainHelpKey(0x70, false, false, false));
    EXPECT_FALSE(IsPlainHelpKey(0x70, true, false, false));
    EXPECT_FALSE(IsPlainHelpKey(0x70, false, true, false));
    EXPECT_FALSE(IsPlainHelpKey(0x70, false, false, true));
    EXPECT_FALSE(IsPlainHelpKey(0x71, false, false, false));  // F2
    EXPECT_EQ(0xE146u, kFrameIdHelp);
}

}  // namespace
