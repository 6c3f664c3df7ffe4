// The built setup program, started as a user would start it: the welcome
// dialog, the refused old platform and the refused corrupt download.
#include <gtest/gtest.h>
#include <windows.h>
#include <random>
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

// Changes one byte inside the embedded copy of a payload file.
bool CorruptEmbedded(const std::string &exe, const char *payloadName, size_t offsetInFile,
                     unsigned char flip = 0x01)
{
    std::string image, payload;
    if (!ts::ReadBytes(exe, &image) || !ts::ReadBytes(ts::PayloadFile(payloadName), &payload))
        return false;
    size_t at = image.find(payload.substr(0, 256));
    if (at == std::string::npos || image.compare(at, payload.size(), payload) != 0)
        return false;
    image[at + offsetInFile] ^= (char)flip;
    return ts::WriteBytes(exe, image);
}

// Starts exe and expects exactly the corrupt-download message: no welcome
// dialog, exit code 0 once it is answered.
::testing::AssertionResult RefusedAsCorrupt(const std::string &exe, const std::string &dir)
{
    uidrv::Proc p = uidrv::Launch(exe.c_str(), dir.c_str());
    if (p.process == nullptr)
        return ::testing::AssertionFailure() << "could not start " << exe;
    HWND box = uidrv::WaitForDialog("Corrupt Setup", 20000, p.pid);
    if (box == nullptr) {
        std::string seen = uidrv::DescribeVisibleDialogs();
        uidrv::Kill(p);
        return ::testing::AssertionFailure() << "no Corrupt Setup message; showing:\n" << seen;
    }
    std::string text = uidrv::MessageBoxText(box);
    UINT style = uidrv::MessageBoxStyle(box);
    bool welcome = uidrv::WaitForDialog(kWelcomeCaption, 0, p.pid) != nullptr;
    uidrv::PressButton(box, IDOK);
    DWORD code = 1234;
    bool ended = uidrv::WaitExit(p, 20000, &code);
    if (!ended)
        uidrv::Kill(p);
    if (text != "This setup program is corrupt, probably by a bad or aborted download.  Please download it again.")
        return ::testing::AssertionFailure() << "message text: " << text;
    if (style != (UINT)MB_ICONHAND)
        return ::testing::AssertionFailure() << "message style " << style;
    if (welcome)
        return ::testing::AssertionFailure() << "the welcome dialog came up as well";
    if (!ended || code != 0)
        return ::testing::AssertionFailure() << "exit " << (ended ? (int)code : -1);
    return ::testing::AssertionSuccess();
}

// Replaces a payload resource of exe with other bytes.
bool ReplacePayloadResource(const std::string &exe, const char *resName, const std::string &bytes)
{
    HANDLE h = BeginUpdateResourceA(exe.c_str(), FALSE);
    if (h == NULL)
        return false;
    BOOL ok = UpdateResourceA(h, "DLL", resName, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                              (LPVOID)bytes.data(), (DWORD)bytes.size());
    return EndUpdateResourceA(h, !ok) && ok;
}

// Takes a payload entry out of exe by renaming it in the resource directory
// (the last letter of its UTF-16 name becomes 'X', which keeps the names in
// order). Wine's UpdateResource does not delete entries.
bool RenamePayloadResource(const std::string &exe, const char *resName)
{
    std::string image, wide;
    if (!ts::ReadBytes(exe, &image))
        return false;
    for (const char *p = resName; *p; p++)
        wide += std::string(1, *p) + '\0';
    size_t at = image.find(wide);
    if (at == std::string::npos || image.find(wide, at + 1) != std::string::npos)
        return false;
    image[at + wide.size() - 2] = 'X';
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

TEST(BadPayload, EveryChangedByteIsRefused)
{
    std::string dir = ts::ScratchDir();
    std::mt19937 rng(20261206);
    int run = 0;
    for (const char *file : {"vxmain.vdf", "vxsky_readme.txt"}) {
        std::string payload;
        ASSERT_TRUE(ts::ReadBytes(ts::PayloadFile(file), &payload));
        size_t n = payload.size();
        ASSERT_GT(n, 4u);
        // both ends, the middle and random places; low, high and all bits
        std::vector<std::pair<size_t, unsigned char>> cases = {
            {0, 0x01}, {n - 1, 0x80}, {n / 2, 0xFF}, {1, 0x7F}};
        for (int i = 0; i < 6; i++)
            cases.push_back({rng() % n, (unsigned char)(1 + rng() % 255)});
        for (auto [at, flip] : cases) {
            std::string exe = ts::CopySetupTo(dir, "bad" + std::to_string(run++) + ".exe");
            ASSERT_TRUE(CorruptEmbedded(exe, file, at, flip)) << file;
            EXPECT_TRUE(RefusedAsCorrupt(exe, dir)) << file << " byte " << at << " ^ " << (int)flip;
        }
    }
}

TEST(BadPayload, TruncatedOrMissingEntryIsRefused)
{
    std::string dir = ts::ScratchDir();
    struct Entry { const char *file, *res; };
    for (Entry e : {Entry{"vxmain.vdf", "VXMAIN.VDF"}, Entry{"vxsky_readme.txt", "VXSKY_README.TXT"}}) {
        std::string payload;
        ASSERT_TRUE(ts::ReadBytes(ts::PayloadFile(e.file), &payload));
        std::string shorter = payload.substr(0, payload.size() - 1);

        std::string exe = ts::CopySetupTo(dir, std::string("short_") + e.res + ".exe");
        ASSERT_TRUE(ReplacePayloadResource(exe, e.res, shorter)) << e.file;
        EXPECT_TRUE(RefusedAsCorrupt(exe, dir)) << e.file << " one byte short";

        exe = ts::CopySetupTo(dir, std::string("gone_") + e.res + ".exe");
        ASSERT_TRUE(RenamePayloadResource(exe, e.res)) << e.file;
        EXPECT_TRUE(RefusedAsCorrupt(exe, dir)) << e.file << " missing";
    }
    // the same rewrite with the bytes unchanged still starts: the check is
    // on the contents, not on where the resource section puts them
    std::string same;
    ASSERT_TRUE(ts::ReadBytes(ts::PayloadFile("vxsky_readme.txt"), &same));
    std::string exe = ts::CopySetupTo(dir, "rewritten.exe");
    ASSERT_TRUE(ReplacePayloadResource(exe, "VXSKY_README.TXT", same));
    uidrv::Proc p = uidrv::Launch(exe.c_str(), dir.c_str());
    HWND dlg = uidrv::WaitForDialog(kWelcomeCaption, 20000, p.pid);
    ASSERT_NE(dlg, nullptr) << uidrv::DescribeVisibleDialogs();
    uidrv::PressButton(dlg, IDCANCEL);
    DWORD code = 1234;
    ASSERT_TRUE(uidrv::WaitExit(p, 20000, &code));
    EXPECT_EQ(code, 0u);
}
