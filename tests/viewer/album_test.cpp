// Albums under a temporary home: the album base from the registry or the XDG user folders,
// the album list, the add-to-album command with its question, and a copy that never loses
// the photo already in the album.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>

#include <filesystem>
#include <fstream>
#include <functional>

#include "Dialogs.h"
#include "LngWriter.h"
#include "LnkWriter.h"
#include "Registry.h"
#include "ShortcutLink.h"
#include "addtoalbum.h"
#include "global.h"
#include "saver/TestDir.h"
#include "specialfolder.h"
#include "transclass.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

struct Answers : TDialogResponder {
    std::vector<std::string> boxes;
    int answer = IDYES;
    std::function<void(Taddphoto&)> choose;
    int MessageBox(const std::string& Text, const std::string& Caption, unsigned Flags) override {
        boxes.push_back(Caption + "|" + Text + "|" + std::to_string(Flags));
        return answer;
    }
    void ModalForm(TForm& f) override { choose(dynamic_cast<Taddphoto&>(f)); }
};

// HOME and XDG_CONFIG_HOME in a temporary folder, so neither the user's folders nor the
// user's registry stand-in are touched.
class Albums : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* v : {"HOME", "XDG_CONFIG_HOME"}) {
            const char* old = std::getenv(v);
            saved_.emplace_back(v, old ? std::optional<std::string>(old) : std::nullopt);
        }
        home = home_.Path();
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
        fs::create_directories(home + "/.config");
        UserDirs("$HOME/Bilder", "$HOME/Dokumente");
        SetDialogResponder(&r);
        GlobalStrings = TGlobalStrings();
    }
    void TearDown() override {
        SetDialogResponder(nullptr);
        for (const auto& [name, value] : saved_) {
            if (value) setenv(name.c_str(), value->c_str(), 1);
            else unsetenv(name.c_str());
        }
        GlobalStrings = TGlobalStrings();
        LangData = nullptr;
    }
    void UserDirs(const std::string& pictures, const std::string& documents) {
        std::ofstream(home + "/.config/user-dirs.dirs")
            << "XDG_PICTURES_DIR=\"" << pictures << "\"\nXDG_DOCUMENTS_DIR=\"" << documents << "\"\n";
    }
    static void SetBase(const std::string& path) {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey("\\Software\\Vantorel\\Glimmerdeck\\Album", true));
        reg.WriteString("Path", path);
    }
    // Chooses the album whose item text starts with Name and confirms.
    void Choose(const std::string& name) {
        r.choose = [name](Taddphoto& f) {
            for (int i = 0; i < f.list->count(); ++i)
                if (f.list->item(i)->text().toStdString().rfind(name, 0) == 0) f.list->setCurrentRow(i);
            f.Button2->click();
        };
    }
    TestDir home_;
    std::string home;
    Answers r;
    TShortcutLink shortcut{nullptr};

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace

TEST_F(Albums, ListFromTheBaseFolder) {
    const std::string base = home + "/Photos";
    for (const char* d : {"Holiday", "Glimmerdeck Dumped Photos", "glimmerdeck dumped photos", "Glimmerdeck Photobook",
                          ".hidden", "Glimmerdeck PalmOS-Album"})
        fs::create_directories(base + "/" + d);
    fs::create_directories(home + "/elsewhere/Trip");
    fs::create_directories(home + "/elsewhere/Family");
    fs::create_directory_symlink(home + "/elsewhere/Trip", base + "/Trip");
    fs::create_directory_symlink(home + "/elsewhere/Gone", base + "/Dangling");
    WriteAll(base + "/bad.lnk", "garbage");
    WriteAll(base + "/photo.jpg", "not a folder");
    LnkWriter::Save(base + "/Family.lnk", LnkWriter::Make({.localBasePath = home + "/elsewhere/Family"}));
    LnkWriter::Save(base + "/Upper.LNK", LnkWriter::Make({.localBasePath = home + "/elsewhere/Family"}));
    LnkWriter::Save(base + "/ToAFile.lnk", LnkWriter::Make({.localBasePath = base + "/photo.jpg"}));
    SetBase(base);

    TAlbumList list;
    BuildAlbumList(list, &shortcut);
    EXPECT_TRUE(list.Built);
    EXPECT_EQ(list.Base, base);
    const std::vector<std::string> names = {"Photos (album base directory)", "Family", "glimmerdeck dumped photos",
                                            "Glimmerdeck Photobook", "Holiday", "Trip"};
    EXPECT_EQ(list.Names, names);
    std::vector<std::string> paths;
    for (int i : list.PathIndex) paths.push_back(list.Paths.at(size_t(i)));
    EXPECT_EQ(paths, (std::vector<std::string>{base, home + "/elsewhere/Family", base + "/glimmerdeck dumped photos",
                                               base + "/Glimmerdeck Photobook", base + "/Holiday", base + "/Trip"}));
    // Translated folder names are the ones left out.
    GlobalStrings.sdumpdir = "glimmerdeck dumped photos";
    BuildAlbumList(list, &shortcut);
    EXPECT_EQ(list.Names.at(2), "Glimmerdeck Dumped Photos");
}

// Names sort as the desktop sorts them in the user's language, accented letters beside
// their base letters rather than after "Z".
TEST_F(Albums, NamesSortInTheUsersLanguage) {
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const std::string base = home + "/Photos";
    for (const char* d : {"Zoo", "\xC3\x84pfel", "apple", "B\xC3\xA4r", "bus", "Baum"}) fs::create_directories(base + "/" + d);
    SetBase(base);
    TAlbumList list;
    BuildAlbumList(list, &shortcut);
    QLocale::setDefault(before);
    EXPECT_EQ(list.Names, (std::vector<std::string>{"Photos (album base directory)", "\xC3\x84pfel", "apple",
                                                    "B\xC3\xA4r", "Baum", "bus", "Zoo"}));
}

TEST_F(Albums, SameNamesAreAllListedEachWithItsOwnFolder) {
    const std::string base = home + "/Photos";
    fs::create_directories(base + "/Holiday");
    fs::create_directories(base + "/holiday");
    fs::create_directories(home + "/other/Holiday");
    LnkWriter::Save(base + "/Holiday.lnk", LnkWriter::Make({.localBasePath = home + "/other/Holiday"}));
    SetBase(base + "/");
    TAlbumList list;
    BuildAlbumList(list, &shortcut);
    // A base ending in "/" gives an entry of the attachment alone.
    ASSERT_EQ(list.Names.size(), 4u);
    EXPECT_EQ(list.Names[0], " (album base directory)");
    EXPECT_EQ(list.Names[1], "Holiday");
    EXPECT_EQ(list.Names[2], "Holiday (" + home + "/other/Holiday)");
    EXPECT_EQ(list.Names[3], "holiday");
    EXPECT_EQ(list.Paths[size_t(list.PathIndex[1])], base + "/Holiday");
    EXPECT_EQ(list.Paths[size_t(list.PathIndex[2])], home + "/other/Holiday");
    EXPECT_EQ(list.Paths[size_t(list.PathIndex[3])], base + "/holiday");
}

TEST_F(Albums, DefaultBaseFromTheUserFolders) {
    // A registry value of another type is no base; the pictures folder is made.
    {
        TRegistry reg;
        reg.OpenKey("\\software\\vantorel\\glimmerdeck\\album", true);
        reg.WriteInteger("path", 5);
    }
    EXPECT_EQ(AlbumBaseDirectory(), home + "/Bilder");
    EXPECT_TRUE(fs::is_directory(home + "/Bilder"));
    SetBase(home + "/missing");
    EXPECT_EQ(AlbumBaseDirectory(), home + "/Bilder");
    // A disabled pictures folder is written as the home folder itself.
    UserDirs("$HOME/", "$HOME/Dokumente");
    EXPECT_EQ(GetSpecialFolderPath(CSIDL_MYPICTURES), "");
    EXPECT_EQ(DefaultAlbumBase(), home + "/Dokumente/Glimmerdeck_Albums");
    UserDirs("$HOME", "$HOME/");
    GlobalStrings.sgdalbumsname = "Alben";
    EXPECT_EQ(DefaultAlbumBase(), home + "/Alben");
    EXPECT_EQ(AlbumBaseDirectory(), home + "/Alben");
    EXPECT_TRUE(fs::is_directory(home + "/Alben"));
    EXPECT_EQ(GetSpecialFolderPath(12345), "");
}

TEST_F(Albums, AddToAlbumCopiesAsksAndNeverLosesThePhoto) {
    const std::string base = home + "/Bilder";
    fs::create_directories(base + "/Holiday");
    fs::create_directories(home + "/in");
    const std::string photo = home + "/in/beach.jpg";
    WriteAll(photo, "new photo bytes");
    TAlbumList list;

    // Cancel and no photo copy nothing.
    r.choose = [](Taddphoto& f) { f.Button3->click(); };
    AddPhotoToAlbum(list, &shortcut, photo);
    Choose("Holiday");
    AddPhotoToAlbum(list, &shortcut, "");
    EXPECT_FALSE(fs::exists(base + "/Holiday/beach.jpg"));
    EXPECT_TRUE(r.boxes.empty());

    AddPhotoToAlbum(list, &shortcut, photo);
    EXPECT_EQ(ReadAll(base + "/Holiday/beach.jpg"), "new photo bytes");
    EXPECT_TRUE(r.boxes.empty());

    WriteAll(base + "/Holiday/beach.jpg", "old photo");
    r.answer = IDNO;
    AddPhotoToAlbum(list, &shortcut, photo);
    EXPECT_EQ(ReadAll(base + "/Holiday/beach.jpg"), "old photo");
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0], "Confirmation|There is already a photo with the name \"beach.jpg\" in the album Holiday.\r\n"
                          "Do you want to overwrite it?|" + std::to_string(MB_YESNO | MB_ICONQUESTION));
    r.answer = IDYES;
    AddPhotoToAlbum(list, &shortcut, photo);
    EXPECT_EQ(ReadAll(base + "/Holiday/beach.jpg"), "new photo bytes");

    // The photo shown from the album itself: nothing to copy, nothing asked, nothing lost.
    r.boxes.clear();
    AddPhotoToAlbum(list, &shortcut, base + "/Holiday/beach.jpg");
    EXPECT_EQ(ReadAll(base + "/Holiday/beach.jpg"), "new photo bytes");
    EXPECT_TRUE(r.boxes.empty());

    // The album folder turned into a file after the list was made: the copy fails and says so.
    fs::remove_all(base + "/Holiday");
    WriteAll(base + "/Holiday", "a file");
    AddPhotoToAlbum(list, &shortcut, photo);
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].rfind("Error|Cannot create file \"" + base + "/Holiday/beach.jpg\"", 0), 0u) << r.boxes[0];
    EXPECT_EQ(ReadAll(base + "/Holiday"), "a file");
    for (const auto& e : fs::directory_iterator(base)) EXPECT_EQ(e.path().filename().string().find(".gdview"), std::string::npos);
}

TEST_F(Albums, ACopyThatFailsHalfWayKeepsTheOldPhoto) {
    const std::string album = home + "/album";
    fs::create_directories(album);
    WriteAll(album + "/p.jpg", "the old photo");
    WriteAll(home + "/big.jpg", std::string(3 << 20, 'x'));
    // A file-size limit of 1 MiB in a child process: the write fails even for root.
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit lim{1 << 20, 1 << 20};
        ::setrlimit(RLIMIT_FSIZE, &lim);
        int code = 1;
        try {
            CopyFileByStream(home + "/big.jpg", album + "/p.jpg");
        } catch (const EWriteError&) {
            code = 0;
        } catch (...) {
            code = 2;
        }
        ::_exit(code);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the copy did not fail with a write error";
    EXPECT_EQ(ReadAll(album + "/p.jpg"), "the old photo");
    EXPECT_EQ(std::distance(fs::directory_iterator(album), fs::directory_iterator()), 1) << "temporary file left";
    // Without the limit it goes through, keeping the old file's permissions.
    fs::permissions(album + "/p.jpg", fs::perms(0640));
    CopyFileByStream(home + "/big.jpg", album + "/p.jpg");
    EXPECT_EQ(fs::file_size(album + "/p.jpg"), 3u << 20);
    EXPECT_EQ(fs::status(album + "/p.jpg").permissions(), fs::perms(0640));
    EXPECT_THROW(CopyFileByStream(home + "/none.jpg", album + "/q.jpg"), EFOpenError);
    EXPECT_FALSE(fs::exists(album + "/q.jpg"));
}

// The chooser keeps its stored layout for the built-in texts and grows for long
// translations: the whole question shown, both buttons as wide as their captions, inside
// the window and apart.
TEST_F(Albums, ChooserGrowsForLongTranslations) {
    auto check = [](Taddphoto& f) {
        QWidget* client = f.Button2->parentWidget();
        EXPECT_GE(f.Label1->height(), f.Label1->heightForWidth(f.Label1->width()));
        for (QPushButton* b : {f.Button2, f.Button3}) {
            EXPECT_GE(b->width(), b->sizeHint().width()) << b->text().toStdString();
            EXPECT_TRUE(client->rect().contains(b->geometry())) << b->text().toStdString();
        }
        EXPECT_LE(f.Button2->geometry().right(), f.Button3->geometry().left());
        EXPECT_LE(f.Label1->geometry().bottom(), f.list->geometry().top());
        EXPECT_LE(f.list->geometry().bottom(), f.Button2->geometry().top());
    };
    Taddphoto plain(nullptr);
    check(plain);
    const int plainWidth = plain.ClientWidth(), plainHeight = plain.ClientHeight();

    TestDir dir;
    const std::string longWords(12, 'W');
    std::string question;
    for (int i = 0; i < 12; ++i) question += "Choose the album for this photograph ";
    LngWriter()
        .Header(3)
        .Entry("viewer.add.label1.caption", question, 12)   // longer than a short string holds
        .Entry("viewer.add.button2.caption", "Add to the album " + longWords)
        .Entry("viewer.add.button3.caption", "Cancel without copying " + longWords)
        .Save(dir.File("long.lng"));
    tlangdata table;
    table.LoadFromFile(dir.File("long.lng"));
    LangData = &table;
    Taddphoto grown(nullptr);
    LangData = nullptr;
    EXPECT_EQ(grown.Button3->text().toStdString(), "Cancel without copying " + longWords);
    check(grown);
    EXPECT_GT(grown.ClientWidth(), plainWidth);
    EXPECT_GT(grown.ClientHeight(), plainHeight);
}

TEST_F(Albums, TranslatedQuestionTakesOnlyStringArguments) {
    TestDir dir;
    LngWriter()
        .Header(2)
        .Entry("viewer.overwrite", "%d%n%s%s%s")
        .Entry("messagedlg.confirmation", "Frage")
        .Save(dir.File("x.lng"));
    tlangdata table;
    LangData = &table;
    EXPECT_EQ(OverwriteQuestion("a.jpg", "Trip"),
              "There is already a photo with the name \"a.jpg\" in the album Trip.\r\nDo you want to overwrite it?");
    table.LoadFromFile(dir.File("x.lng"));
    LoadGlobalStrings();
    EXPECT_EQ(GlobalStrings.smsgconfirmation, "Frage");
    EXPECT_EQ(OverwriteQuestion("a.jpg", "Trip"),
              "There is already a photo with the name \"a.jpg\" in the album Trip.\r\nDo you want to overwrite it?");

    struct {
        const char* format;
        bool ok;
        const char* out;
    } cases[] = {
        {"\"%s\" in %s?", true, "\"a\" in b?"}, {"%1:s <- %0:s", true, "b <- a"}, {"100%% %s", true, "100% a"},
        {"%0:s %s", true, "a b"},               {"%s %s %s", false, ""},        {"%d", false, ""},
        {"%n", false, ""},                      {"%5:s", false, ""},            {"trailing %", false, ""},
        {"%x", false, ""},                      {"plain", true, "plain"},
    };
    for (const auto& c : cases) {
        std::string out = "untouched";
        EXPECT_EQ(FormatStrings(c.format, {"a", "b"}, out), c.ok) << c.format;
        EXPECT_EQ(out, c.ok ? c.out : "untouched") << c.format;
    }
}

TEST_F(Albums, MessageBoxCaptionsIconsButtonsAndAnswers) {
    GlobalStrings.smsgwarning = "Achtung";
    struct {
        TMsgDlgType type;
        TMsgDlgButtons buttons;
        const char* caption;
        unsigned flags;
    } cases[] = {
        {mtWarning, MsgDlgButtons({mbYes, mbNo}), "Achtung", MB_ICONWARNING | MB_YESNO},
        {mtError, mbYesNoCancel, "Error", MB_ICONERROR | MB_YESNOCANCEL},
        {mtInformation, mbOKCancel, "Information", MB_ICONINFORMATION | MB_OKCANCEL},
        {mtConfirmation, MsgDlgButtons({mbRetry, mbCancel}), "Confirmation", MB_ICONQUESTION | MB_RETRYCANCEL},
        {mtCustom, mbAbortRetryIgnore, "", MB_ABORTRETRYIGNORE},
        {mtError, MsgDlgButtons({mbYes, mbNo, mbHelp}), "Error", MB_ICONERROR | MB_OK},
    };
    for (const auto& c : cases) {
        r.boxes.clear();
        LangMessageBox("text", c.type, c.buttons);
        ASSERT_EQ(r.boxes.size(), 1u);
        EXPECT_EQ(r.boxes[0], std::string(c.caption) + "|text|" + std::to_string(c.flags));
    }
    const std::pair<int, int> answers[] = {{IDOK, mrOk},       {IDCANCEL, mrCancel}, {IDABORT, mrAbort},
                                           {IDRETRY, mrRetry}, {IDIGNORE, mrIgnore}, {IDYES, mrYes},
                                           {IDNO, mrNo},       {42, mrCancel}};
    for (const auto& [answer, result] : answers) {
        r.answer = answer;
        EXPECT_EQ(LangMessageBox("t", mtWarning, mbOKCancel), result);
    }
}
