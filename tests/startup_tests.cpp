// The built setup program, started as a user would start it: the welcome
// dialog, the refused old platform and the refused corrupt download.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>

#include "test_support.h"
#include "ui_driver.h"

namespace {

const char kWelcomeCaption[] = "Vexmoor Skyrift Setup";

struct Child {
    int id;
    std::string cls, text;
    LONG style;
};

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM lp)
{
    auto *out = (std::vector<Child> *)lp;
    if (GetParent(hwnd) == NULL)
        return TRUE;
    char cls[64] = "", text[512] = "";
    GetClassNameA(hwnd, cls, sizeof(cls));
    GetWindowTextA(hwnd, text, sizeof(text));
    out->push_back({(int)(short)GetDlgCtrlID(hwnd), cls, text, GetWindowLongA(hwnd, GWL_STYLE)});
    return TRUE;
}

std::vector<Child> Children(HWND dlg)
{
    std::vector<Child> kids;
    EnumChildWindows(dlg, CollectChild, (LPARAM)&kids);
    return kids;
}

// Flips one byte inside the embedded copy of a payload file.
bool CorruptEmbedded(const std::string &exe, const char *payloadName, size_t offsetInFile)
{
    std::string image, payload;
    if (!ts::ReadBytes(exe, &image) || !ts::ReadBytes(ts::PayloadFile(payloadName), &payload))
        return false;
    size_t at = image.find(payload.substr(0, 256));
    if (at == std::string::npos || image.compare(at, payload.size(), payload) != 0)
        return false;
    image[at + offsetInFile] ^= 0x01;
    return ts::WriteBytes(exe, image);
}

}  // namespace

TEST(Startup, WelcomeDialogShowsItsTextsAndCancelEndsWithZero)
{
    std::string dir = ts::ScratchDir();
    std::string exe = ts::CopySetupTo(dir, "welcome.exe");
    ASSERT_FALSE(exe.empty());
    uidrv::Proc p = uidrv::Launch(exe.c_str(), dir.c_str());
    ASSERT_NE(p.process, nullptr);

    HWND dlg = uidrv::WaitForDialog(kWelcomeCaption, 20000, p.pid);
    ASSERT_NE(dlg, nullptr) << uidrv::DescribeVisibleDialogs();

    std::vector<Child> kids = Children(dlg);
    ASSERT_EQ(kids.size(), 8u);
    EXPECT_EQ(kids[0].id, IDOK);
    EXPECT_EQ(kids[0].text, "Install");
    EXPECT_TRUE(kids[0].style & BS_DEFPUSHBUTTON);
    EXPECT_EQ(kids[1].id, IDCANCEL);
    EXPECT_EQ(kids[1].text, "Cancel");
    EXPECT_EQ(kids[2].text, "Welcome to Vexmoor Skyrift");
    EXPECT_EQ(kids[3].text, "This will install the Vexmoor Skyrift Addon to your computer.");
    EXPECT_EQ(kids[4].text, "Note that you must have Torvane installed in order to install this addon.");
    EXPECT_EQ(kids[5].style & SS_TYPEMASK, SS_ETCHEDHORZ);
    EXPECT_EQ(kids[6].text,
              "After you press Install, the installer will search your hard drives for your Torvane folder.");
    EXPECT_EQ(kids[7].style & SS_TYPEMASK, SS_ICON);
    for (size_t i = 2; i < kids.size(); i++)
        EXPECT_EQ(kids[i].id, -1) << i;
    // the icon control was given the setup icon
    HWND icon = FindWindowExA(dlg, NULL, "Static", NULL);
    DWORD_PTR hicon = 0;
    for (; icon; icon = FindWindowExA(dlg, icon, "Static", NULL))
        if ((GetWindowLongA(icon, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            SendMessageTimeoutA(icon, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &hicon);
    EXPECT_NE(hicon, 0u);

    LONG style = GetWindowLongA(dlg, GWL_STYLE);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(IsWindowVisible(dlg));

    uidrv::PressButton(dlg, IDCANCEL);
    DWORD code = 1234;
    ASSERT_TRUE(uidrv::WaitExit(p, 20000, &code)) << uidrv::DescribeVisibleDialogs();
    EXPECT_EQ(code, 0u);
}

TEST(Startup, CaptionCloseBoxEndsLikeCancel)
{
    std::string dir = ts::ScratchDir();
    std::string exe = ts::CopySetupTo(dir, "closebox.exe");
    uidrv::Proc p = uidrv::Launch(exe.c_str(), dir.c_str());
    HWND dlg = uidrv::WaitForDialog(kWelcomeCaption, 20000, p.pid);
    ASSERT_NE(dlg, nullptr);
    uidrv::CloseWithCaptionBox(dlg);
    DWORD code = 1234;
    ASSERT_TRUE(uidrv::WaitExit(p, 20000, &code));
    EXPECT_EQ(code, 0u);
}

TEST(Startup, OldPlatformIsRefusedBeforeAnythingElse)
{
    std::string dir = ts::ScratchDir();
    // a corrupt payload too: the version check must come first
    std::string exe = ts::CopySetupTo(dir, "oldwin.exe");
    ASSERT_TRUE(CorruptEmbedded(exe, "vxmain.vdf", 1000));
    ASSERT_TRUE(ts::SetReportedVersion("oldwin.exe", "win31"));

    uidrv::Proc p = uidrv::Launch(exe.c_str(), dir.c_str());
    HWND box = uidrv::WaitForDialog("Sorry!", 20000, p.pid);
    ASSERT_NE(box, nullptr) << uidrv::DescribeVisibleDialogs();
    EXPECT_EQ(uidrv::MessageBoxText(box),
              "You need at least Windows 95 or Windows NT 4.0 to run Torvane as well as this installer.");
    EXPECT_EQ(uidrv::MessageBoxStyle(box), (UINT)MB_ICONHAND);
    EXPECT_EQ(GetWindow(box, GW_OWNER), nullptr);
    EXPECT_EQ(uidrv::WaitForDialog(kWelcomeCaption, 0, p.pid), nullptr);
    EXPECT_EQ(uidrv::WaitForDialog("Corrupt Setup", 0, p.pid), nullptr);
    uidrv::PressButton(box, IDOK);
    DWORD code = 1234;
    ASSERT_TRUE(uidrv::WaitExit(p, 20000, &code));
    EXPECT_EQ(code, 0u);
}

TEST(Startup, CorruptPayloadIsRefusedAndWelcomeNeverShown)
{
    std::string dir = ts::ScratchDir();
    struct Case { const char *file; size_t offset; };
    for (Case c : {Case{"vxmain.vdf", 5000}, Case{"vxsky_readme.txt", 0}}) {
        std::string exe = ts::CopySetupTo(dir, std::string("corrupt_") + (c.offset ? "a" : "b") + ".exe");
        ASSERT_TRUE(CorruptEmbedded(exe, c.file, c.offset)) << c.file;

        uidrv::Proc p = uidrv::Launch(exe.c_str(), dir.c_str());
        HWND box = uidrv::WaitForDialog("Corrupt Setup", 20000, p.pid);
        ASSERT_NE(box, nullptr) << uidrv::DescribeVisibleDialogs();
        EXPECT_EQ(uidrv::MessageBoxText(box),
                  "This setup program is corrupt, probably by a bad or aborted download.  Please download it again.");
        EXPECT_EQ(uidrv::MessageBoxStyle(box), (UINT)MB_ICONHAND);
        EXPECT_EQ(uidrv::WaitForDialog(kWelcomeCaption, 0, p.pid), nullptr);
        uidrv::PressButton(box, IDOK);
        DWORD code = 1234;
        ASSERT_TRUE(uidrv::WaitExit(p, 20000, &code));
        EXPECT_EQ(code, 0u);
    }
}
